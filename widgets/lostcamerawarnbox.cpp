#include "widgets/lostcamerawarnbox.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/ui/startup.h"
#include "platform/commandrunner.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QApplication>
#include <QEvent>


LostCameraWarnBox::LostCameraWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setButtonMessage(209);
    setText(boxpaint::msg(657));
}

void LostCameraWarnBox::showEvent(QShowEvent* e)
{
    WarnBox::showEvent(e);
    holdTouch();
    qApp->installEventFilter(this);
}

void LostCameraWarnBox::hideEvent(QHideEvent* e)
{
    qApp->removeEventFilter(this);
    WarnBox::hideEvent(e);
}

bool LostCameraWarnBox::eventFilter(QObject* watched, QEvent* event)
{
    // A window over this box closes (a touch may just have closed it).
    if (event->type() == QEvent::Hide && watched != this && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow() && w->frameGeometry().intersects(frameGeometry()))
            holdTouch();
    }
    return false;
}

void LostCameraWarnBox::holdTouch()
{
    m_ok->setEnabled(false);
    m_takesTouchAt = Clock::instance()->monotonicMs() + kSettleMs;
    Clock::instance()->singleShot(kSettleMs, this, [this] { releaseTouch(); });
}

void LostCameraWarnBox::releaseTouch()
{
    // A timer may come a little early; a later hold has its own.
    const qint64 left = m_takesTouchAt - Clock::instance()->monotonicMs();
    if (left > 0)
        Clock::instance()->singleShot(int(left), this, [this] { releaseTouch(); });
    else
        m_ok->setEnabled(true);
}

void LostCameraWarnBox::accept()
{
    // The same text in every language; written before the databases close.
    StopWTD();
    if (gpWin) {
        gpWin->InsertRecord(QString::fromUtf8("因丢失相机手动关闭电源"), QStringLiteral("operate"));
        gpWin->FLushAll();
    }
    // The pause between closing the databases and the power-off.
    Clock::instance()->sleepMs(1000);
    CommandRunner::system(QStringLiteral("init 0"));
    StationExit::wentDown(StationExit::PowerOff);
    QDialog::accept();
}
