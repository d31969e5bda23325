#include "records/ui/camerastatisticswidget.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "records/ui/histogram.h"
#include "records/resstatisticsparam.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

int CameraStatisticsWidget::scaled(int px)
{
    const double s = std::min(gShowW / 1920.0, gShowH / 1080.0);
    return std::max(1, int(std::lround(px * s)));
}

QString CameraStatisticsWidget::passRate(int ok, int total)
{
    if (total <= 0)
        return QStringLiteral("--");
    return QString::number(ok * 100.0 / total, 'g', 4) + QLatin1Char('%');
}

CameraStatisticsWidget::CameraStatisticsWidget(int camera, int detect, QWidget* parent)
    : QWidget(parent)
    , m_detect(detect)
    , m_camera(camera)
{
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPixelSize(std::max(14, scaled(27)));
    const QFontMetrics fm(font);
    // Captions and values get the width their longest text needs here.
    int captionW = scaled(120);
    for (int m : {547, 542, 588})
        captionW = std::max(captionW, fm.horizontalAdvance(messageText(m)) + 8);
    const int valueW = std::max(scaled(120), fm.horizontalAdvance(QStringLiteral("1000000")) + 8);
    const int rowH = std::max(scaled(35), fm.height() + 4);
    const int titleH = std::max(scaled(50), fm.height() + 6);
    auto label = [&](const QString& text, int w, int h, Qt::Alignment align) {
        auto* l = new QLabel(text, this);
        l->setFont(font);
        l->setFixedSize(w, h);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };

    auto* blocks = new QVBoxLayout;
    blocks->setSpacing(1);
    const int titles[3] = {545, 546, 587};
    for (int b = 0; b < 3; ++b) {
        auto* block = new QVBoxLayout;
        block->setSpacing(3);
        block->addWidget(label(messageText(titles[b]), captionW + valueW, titleH, Qt::AlignLeft));
        const int captions[3] = {547, 542, 588};
        for (int k = 0; k < 3; ++k) {
            auto* row = new QHBoxLayout;
            row->setSpacing(0);
            row->addWidget(label(messageText(captions[k]), captionW, rowH, Qt::AlignRight));
            QLabel* value = m_values[b * 3 + k] = label(QStringLiteral("0"), valueW, rowH, Qt::AlignRight);
            value->setStyleSheet(QStringLiteral("color:green;"));
            row->addWidget(value);
            row->addStretch();
            block->addLayout(row);
        }
        blocks->addLayout(block);
    }
    blocks->addStretch();

    m_day = new Histogram(this, {}, {}, {});
    m_night = new Histogram(this, {}, {}, {});
    m_day->setMinimumSize(200, 120);
    m_night->setMinimumSize(200, 120);
    auto* charts = new QVBoxLayout;
    charts->setSpacing(5);
    charts->addWidget(m_day, 1);
    charts->addWidget(m_night, 1);

    auto* lay = new QHBoxLayout(this);
    lay->setSpacing(5);
    lay->setContentsMargins(10, 10, 10, 10);
    lay->addLayout(blocks);
    lay->addLayout(charts, 1);
}

void CameraStatisticsWidget::updateData()
{
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    const ShiftType shifts[3] = {Morning, Night, Whole};
    for (int s = 0; s < 3; ++s) {
        const int ok = model->getCount(shifts[s], true, m_camera, m_detect);
        const int total = ok + model->getCount(shifts[s], false, m_camera, m_detect);
        m_values[s * 3]->setText(QString::number(total));
        m_values[s * 3 + 1]->setText(QString::number(ok));
        m_values[s * 3 + 2]->setText(passRate(ok, total));
    }
    m_day->modifyDataAxisX(model->getShiftTimeList(Morning));
    m_day->modifyDataAxisY(model->getRes(Morning, true, m_camera, m_detect),
                           model->getRes(Morning, false, m_camera, m_detect));
    m_night->modifyDataAxisX(model->getShiftTimeList(Night));
    m_night->modifyDataAxisY(model->getRes(Night, true, m_camera, m_detect),
                             model->getRes(Night, false, m_camera, m_detect));
}

void CameraStatisticsWidget::showEvent(QShowEvent* e)
{
    updateData();
    QWidget::showEvent(e);
}
