#include "controller/ui/boardlinkbox.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "widgets/boxpaint.h"
#include "widgets/warnbox.h"

#include <QPainter>
#include <algorithm>

namespace {
constexpr int kSideBarWidth = 240; // the side bar's strip on the right
constexpr int kTop = 100;          // below the views' counters line
constexpr int kHeight = 150;
constexpr int kMargin = 10;
} // namespace

BoardLinkBox::BoardLinkBox(QWidget* mainWindow, ControlPort* port)
    : QWidget(mainWindow)
{
    setGeometry(kMargin, kTop, std::min(760, gShowW - kSideBarWidth - 2 * kMargin), kHeight);
    hide();
    if (port)
        connect(port, &ControlPort::sigBoardLink, this, &BoardLinkBox::showLink);
}

void BoardLinkBox::showLink(int link)
{
    if (link == IOThread::Answering) {
        hide();
        return;
    }
    m_text = link == IOThread::NoPort ? messageText(901).arg(boardDevice()) : messageText(900);
    update();
    WarnBox::wakeScreen();
    show();
}

void BoardLinkBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, rect());
    p.setPen(Qt::red);
    const QRect band = rect().adjusted(WarnBox::kTextMargin, WarnBox::kTextMargin / 2, -WarnBox::kTextMargin,
                                       -WarnBox::kTextMargin / 2);
    boxpaint::drawLines(p, band, boxpaint::fitLines(boxpaint::houseFont(34), m_text, band.size()),
                        Qt::AlignHCenter | Qt::AlignVCenter);
    boxpaint::drawFrame(p, width(), height());
}
