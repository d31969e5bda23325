#include "widgets/choosebox.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QPainter>

ChooseBox::ChooseBox(QWidget* parent, int w, int h)
    : QDialog(parent)
    , m_w(w)
    , m_h(h)
{
    setGeometry(gShowW / 2 - w / 2, gShowH / 2 - h / 2, w, h);
    setFixedSize(w, h);

    m_yes = new ColorButton(boxpaint::msg(122), this, 3);
    m_yes->setGeometry(w / 2 - 270, h / 2 + 50, 220, 100);
    connect(m_yes, &QAbstractButton::clicked, this, &QDialog::accept);

    m_no = new ColorButton(boxpaint::msg(123), this, 3);
    m_no->setGeometry(w / 2 + 50, h / 2 + 50, 220, 100);
    connect(m_no, &QAbstractButton::clicked, this, &QDialog::reject);

    hide();
    raise();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::WindowFullscreenButtonHint);
}

ChooseBox::~ChooseBox()
{
    if (gpChooseBox == this)
        gpChooseBox = nullptr;
}

void ChooseBox::setText(const QString& text)
{
    m_text = text;
    update();
}

QRect ChooseBox::textRect() const
{
    // The upper half down to 50 px above its middle, clear of the white frame.
    return QRect(kTextMargin, kTextMargin / 2, m_w - 2 * kTextMargin, m_h / 2 - 50 - kTextMargin / 2);
}

void ChooseBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, QRect(0, 0, width(), height()));
    p.setPen(Qt::red);
    // The question sits on the lower edge of the upper half, above the buttons.
    const QRect band = textRect();
    boxpaint::drawLines(p, band, boxpaint::fitLines(boxpaint::houseFont(40), m_text, band.size()),
                        Qt::AlignHCenter | Qt::AlignBottom);
    boxpaint::drawFrame(p, width(), height());
}

void ChooseBox::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    m_asker.boxShown(this);
}

void ChooseBox::hideEvent(QHideEvent* e)
{
    m_asker.boxHidden();
    QDialog::hideEvent(e);
}
