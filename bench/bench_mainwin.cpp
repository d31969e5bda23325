// The main window's per-event and per-poll costs: the application object's
// notify on every mouse press, release and move (with the logout and
// screen-off timers restarted on a press, as on the panel) against a plain
// QApplication::notify of the same events to the same widget; and a repaint
// of the status strip against a plain QPainter drawing of the same lamps and
// texts into an image of the same size.
//
// Runs offscreen; the lamp pictures come from the build tree's working
// directory template.
#include "controller/ui/iostatuswidget.h"
#include "controller/mainstate.h"
#include "controller/ui/mapplication.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "widgets/sharedpixmaps.h"

#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

MApplication* g_app = nullptr;
TestClock* g_clock = nullptr;

// A receiver that takes mouse events as an ordinary button would.
class Target : public QWidget
{
protected:
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void mouseReleaseEvent(QMouseEvent* e) override { e->accept(); }
    void mouseMoveEvent(QMouseEvent* e) override { e->accept(); }
};

void setUpState()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    MessageTable::load();
    gLan = 1;
    gpWPara = new WizardPara;
    gpWParaBak = new WizardPara;
    gpWPara->autoLogout = 120;
    gpWPara->scrOffTime = 600;
    gpWPara->isPswUsed = 1;
    auto* st = new MainState;
    gpWin = st;
    st->loginLevel = 1;
    st->logoutTimer = new QTimer;
    st->screenOffTimer = new QTimer;
    SharedPixmaps::load(QCoreApplication::applicationDirPath() + "/../workdir/images/");
}

enum class Kind { Press, Release, Move };

void notifyEvents(benchmark::State& state, Kind kind, bool plain)
{
    setUpState();
    Target w;
    w.resize(200, 100);
    const QPointF at(50, 40);
    const QEvent::Type type = kind == Kind::Press     ? QEvent::MouseButtonPress
                              : kind == Kind::Release ? QEvent::MouseButtonRelease
                                                      : QEvent::MouseMove;
    const Qt::MouseButton button = kind == Kind::Move ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = kind == Kind::Press ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent ev(type, at, at, at, button, buttons, Qt::NoModifier);
    for (auto _ : state) {
        // Each press falls outside the 10 ms bounce filter: the full path.
        // The step of the test clock costs more than a notify, so it stays
        // out of the timing (the pause itself costs both sides the same).
        if (kind == Kind::Press) {
            state.PauseTiming();
            g_clock->advance(20);
            state.ResumeTiming();
        }
        const bool r = plain ? g_app->QApplication::notify(&w, &ev) : g_app->notify(&w, &ev);
        benchmark::DoNotOptimize(r);
    }
}

void BM_NotifyPress(benchmark::State& s) { notifyEvents(s, Kind::Press, false); }
void BM_PlainNotifyPress(benchmark::State& s) { notifyEvents(s, Kind::Press, true); }
void BM_NotifyRelease(benchmark::State& s) { notifyEvents(s, Kind::Release, false); }
void BM_PlainNotifyRelease(benchmark::State& s) { notifyEvents(s, Kind::Release, true); }
void BM_NotifyMove(benchmark::State& s) { notifyEvents(s, Kind::Move, false); }
void BM_PlainNotifyMove(benchmark::State& s) { notifyEvents(s, Kind::Move, true); }
// The pause around the clock step alone, taken off both press figures.
void BM_PauseOnly(benchmark::State& state)
{
    setUpState();
    for (auto _ : state) {
        state.PauseTiming();
        g_clock->advance(20);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PauseOnly)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_NotifyPress)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_PlainNotifyPress)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_NotifyRelease)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_PlainNotifyRelease)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_NotifyMove)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_PlainNotifyMove)->Unit(benchmark::kNanosecond)->MinTime(0.5)->Repetitions(5);

// The yardstick: the strip's lamps, names, login text and clock line drawn
// straight with QPainter at the strip's own positions and fonts.
void plainStrip(QImage& target, const QVector<IOStatusWidget::Lamp>& lamps)
{
    target.fill(Qt::black);
    QPainter p(&target);
    for (const auto& l : lamps)
        p.drawPixmap(l.lamp, *gpPixmapOUT[0]);
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(16);
    p.setFont(f);
    p.setPen(QColor(0, 255, 255));
    for (const auto& l : lamps)
        p.drawText(l.label, Qt::AlignCenter, l.text);
    const QString clock =
        messageText(110).arg(clockNow().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")), QStringLiteral(" 0.0"));
    int right = 0;
    for (const auto& l : lamps)
        right = qMax(right, qMax(l.lamp.right(), l.label.right()));
    // Where the strip puts them: a fixed line on the wide panel, the band the
    // lamps leave free on a narrower one.
    const bool wide = gShowW >= 1920;
    const int x = wide ? 1150 : gpWPara->systemMode == 3 ? right + 20 : 7;
    f.setPixelSize(wide ? 35 : 30);
    p.setFont(f);
    p.setPen(Qt::green);
    p.drawText(wide ? 900 : x, wide ? 155 : 38, messageText(308));
    p.drawText(x, wide ? 155 : 80, clock);
}

// Arguments: screen width, system mode.
void stripRepaint(benchmark::State& state, bool plain)
{
    setUpState();
    gShowW = int(state.range(0));
    gShowH = gShowW >= 1920 ? 1080 : 800;
    gpWPara->systemMode = int(state.range(1));
    QWidget host;
    host.resize(gShowW, gShowH);
    host.setStyleSheet(QStringLiteral("background:black;"));
    auto* strip = new IOStatusWidget(&host);
    const QVector<IOStatusWidget::Lamp> lamps = IOStatusWidget::lamps();
    QImage target(strip->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        if (plain)
            plainStrip(target, lamps);
        else
            strip->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["lamps"] = lamps.size();
    state.counters["missingPictures"] = SharedPixmaps::missingCount();
}

void BM_StripRepaint(benchmark::State& s) { stripRepaint(s, false); }
void BM_PlainStrip(benchmark::State& s) { stripRepaint(s, true); }
BENCHMARK(BM_StripRepaint)->Args({1920, 0})->Args({1280, 3})->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_PlainStrip)->Args({1920, 0})->Args({1280, 3})->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TestClock clock;
    Clock::install(&clock);
    g_clock = &clock;
    MApplication app(argc, argv);
    g_app = &app;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Clock::install(nullptr);
    return 0;
}
