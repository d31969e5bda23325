#include "records/ui/histogram.h"
#include "frame/operatorprompt.h"

#include <QPainter>

#include <algorithm>

Histogram::Histogram(QWidget* parent, QList<int> x, QList<int> y1, QList<int> y2)
    : QWidget(parent)
    , m_x(std::move(x))
    , m_y1(std::move(y1))
    , m_y2(std::move(y2))
{
    changed();
}

void Histogram::modifyDataAxisX(QList<int> x)
{
    m_x = std::move(x);
    changed();
}

bool Histogram::modifyDataAxisY1(QList<int> y1)
{
    m_y1 = std::move(y1);
    changed();
    return true;
}

bool Histogram::modifyDataAxisY2(QList<int> y2)
{
    m_y2 = std::move(y2);
    changed();
    return true;
}

bool Histogram::modifyDataAxisY(QList<int> y1, QList<int> y2)
{
    m_y1 = std::move(y1);
    m_y2 = std::move(y2);
    changed();
    return true;
}

void Histogram::changed()
{
    m_n = std::min({m_x.size(), m_y1.size(), m_y2.size()});
    clcMaxY();
    update();
}

void Histogram::clcMaxY()
{
    m_maxY = 0;
    for (int v : m_y1)
        m_maxY = std::max(m_maxY, v);
    for (int v : m_y2)
        m_maxY = std::max(m_maxY, v);
}

void Histogram::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    p.setPen(Qt::black);
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(15);
    p.setFont(f);
    p.drawLine(0, H - 20, W, H - 20);
    p.drawLine(20, 40, 20, H);

    const float scale = m_maxY > 0 ? float(H - 60) / float(m_maxY) : 0.0f;
    const float step = float((W - 40) / (m_n + 1));
    const float half = step * 0.5f;
    auto valueTop = [H](float h) { return std::min(float(H - 40), H - h - 20); };
    for (int i = 0; i < m_n; ++i) {
        const float x = 20 + (i + 1) * step;
        p.drawLine(QPointF(x, H - 30), QPointF(x, H - 20));
        p.drawText(QRectF(x - half, H - 20, step, 20), Qt::AlignCenter, QString::number(m_x[i]));

        const float h1 = m_y1[i] * scale;
        p.fillRect(QRect(int(x - half), int(H - h1 - 20), int(half), int(h1)), okColor());
        p.drawText(QRectF(x - half, valueTop(h1), half, 20), Qt::AlignCenter, QString::number(m_y1[i]));

        const float h2 = m_y2[i] * scale;
        p.fillRect(QRect(int(x), int(H - h2 - 20), int(half), int(h2)), ngColor());
        p.drawText(QRectF(x, valueTop(h2), half, 20), Qt::AlignCenter, QString::number(m_y2[i]));
    }

    // Legend: each caption gets at least the width its text needs, so a long
    // translation never runs over its swatch.
    QFont lf = f;
    lf.setPointSize(10);
    p.setFont(lf);
    const QString okText = messageText(589), ngText = messageText(590);
    const int okW = std::max(100, p.fontMetrics().horizontalAdvance(okText) + 6);
    const int ngW = std::max(100, p.fontMetrics().horizontalAdvance(ngText) + 6);
    // The swatch is as wide as a bar; without bars (or with a few very wide
    // ones) it keeps a legend's size.
    const float swatch = std::clamp(half, 10.0f, 40.0f);
    const int okLeft = W - 40 - okW;
    p.drawText(QRect(okLeft, 5, okW, 30), Qt::AlignCenter, okText);
    const int l1 = int(okLeft - (5 + swatch));
    p.fillRect(QRect(l1, 5, int(swatch), 30), okColor());
    const int ngLeft = l1 - 5 - ngW;
    p.drawText(QRect(ngLeft, 5, ngW, 30), Qt::AlignCenter, ngText);
    p.fillRect(QRect(int(ngLeft - (5 + swatch)), 5, int(swatch), 30), ngColor());
}
