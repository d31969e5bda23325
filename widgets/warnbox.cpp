#include "widgets/warnbox.h"
#include "controller/lcdonoff.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

WarnBox::WarnBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setGeometry(boxpaint::boxGeometry());

    m_ok = new ColorButton(boxpaint::msg(m_okMsg), this, 3);
    m_ok->setFixedSize(220, 100);
    connect(m_ok, &QAbstractButton::clicked, this, &QDialog::accept);

    // The button sits in the lower part of the box, below the message band.
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addStretch(20);
    lay->addWidget(m_ok, 0, Qt::AlignHCenter | Qt::AlignVCenter);
    lay->addStretch(3);
}

WarnBox::~WarnBox()
{
    // The shared instances die with the main window they were lent to; never
    // leave their globals dangling.
    if (gpWarnBox == this)
        gpWarnBox = nullptr;
    if (gpLostCameraWarnBox == this)
        gpLostCameraWarnBox = nullptr;
    if (gpProductAlarmWarnBox == this)
        gpProductAlarmWarnBox = nullptr;
}

void WarnBox::setButtonMessage(int msg)
{
    m_okMsg = msg;
    m_ok->setCaption(boxpaint::msg(msg));
    m_ok->fitCaption();
}

void WarnBox::setText(const QString& text)
{
    m_text = text;
    update();
}

QRect WarnBox::textRect() const
{
    // The band above the button (the layout's stretch of 20 above it and 3
    // below), clear of the white frame and of the button.
    const int buttonTop = (height() - m_ok->height()) * 20 / 23;
    return QRect(kTextMargin, kTextMargin / 2, width() - 2 * kTextMargin, buttonTop - kTextMargin);
}

void WarnBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, QRect(0, 0, width(), height()));
    p.setPen(Qt::red);
    const QRect band = textRect();
    boxpaint::drawLines(p, band, boxpaint::fitLines(boxpaint::houseFont(40), m_text, band.size()),
                        Qt::AlignHCenter | Qt::AlignVCenter);
    boxpaint::drawFrame(p, width(), height());
}

void WarnBox::wakeScreen()
{
    if (gpWin && gpWin->screenOff == 1) {
        LCDOnOff(1);
        const int offSec = gpWPara ? gpWPara->scrOffTime : 0;
        if (offSec > 0 && gpWin->screenOffTimer)
            gpWin->screenOffTimer->start(offSec * 1000);
    }
}

void WarnBox::showEvent(QShowEvent* e)
{
    // Follow a change of screen size, and wake a dark screen.
    setGeometry(boxpaint::boxGeometry());
    // The shared box is made before the parameters, and with them the
    // language, are loaded: its button speaks the language of the moment.
    setButtonMessage(m_okMsg);
    wakeScreen();
    QDialog::showEvent(e);
    m_asker.boxShown(this);
}

void WarnBox::hideEvent(QHideEvent* e)
{
    m_asker.boxHidden();
    QDialog::hideEvent(e);
}
