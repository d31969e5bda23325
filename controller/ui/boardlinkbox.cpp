#include "controller/ui/boardlinkbox.h"
#include "controller/controlport.h"
#include "controller/iothread.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "widgets/boxpaint.h"
#include "widgets/warnbox.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kSideBarWidth = 240; // the side bar's strip on the right
constexpr int kTop = 100;          // below the views' counters line
constexpr int kWidth = 760;
constexpr int kMinWidth = 400;     // narrower, the text would no longer fit its lines
constexpr int kHeight = 150;
constexpr int kMargin = 10;
constexpr int kStep = 10;
// A region being dragged moves its handles and controls with it: the
// notice follows them at this pace (no single signal tells of them all).
constexpr int kFollowMs = 150;
} // namespace

BoardLinkBox::BoardLinkBox(QWidget* mainWindow, ControlPort* port)
    : QWidget(mainWindow)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(kMargin, kTop, std::min(kWidth, gShowW - kSideBarWidth - 2 * kMargin), kHeight);
    hide();
    m_follow = new QTimer(this);
    m_follow->setInterval(kFollowMs);
    connect(m_follow, &QTimer::timeout, this, &BoardLinkBox::place);
    if (port)
        connect(port, &ControlPort::sigBoardLink, this, &BoardLinkBox::showLink);
}

void BoardLinkBox::showLink(int link)
{
    if (link == IOThread::Answering) {
        m_follow->stop();
        hide();
        return;
    }
    m_text = link == IOThread::NoPort ? messageText(901).arg(boardDevice()) : messageText(900);
    update();
    WarnBox::wakeScreen();
    place();
    show();
    m_follow->start();
}

void BoardLinkBox::place()
{
    const QVector<QRect> clear = m_keepClear ? m_keepClear() : QVector<QRect>();
    const int right = gShowW - kSideBarWidth - kMargin;
    // Left, or just right of something standing at the left edge (the
    // help button, the editor's panel moved to the left).
    QVector<int> xs{kMargin};
    for (const QRect& r : clear)
        if (r.left() <= 2 * kMargin && r.right() + 1 + kMargin + kMinWidth <= right)
            xs << r.right() + 1 + kMargin;
    QRect best = geometry();
    qint64 bestCovered = -1;
    for (int y = kTop; bestCovered != 0 && y + kHeight <= gShowH - kMargin; y += kStep)
        for (int x : xs) {
            const QRect at(x, y, std::min(kWidth, right - x), kHeight);
            qint64 covered = 0;
            for (const QRect& r : clear) {
                const QRect both = at & r;
                covered += qint64(both.width()) * both.height();
            }
            if (bestCovered < 0 || covered < bestCovered) {
                best = at;
                bestCovered = covered;
            }
        }
    if (best != geometry())
        setGeometry(best);
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
