// Statistics page: GUI-thread time per counted result with the page shown
// (count, refresh of the visible panel, paint) and hidden, against a plain
// widget of the panel's size painting the same 24 bar pairs; the GUI
// thread's longest stall while an export finds the drive (FindAU behind the
// busy spinner) and while it runs; the time to export a year (365 archives
// and the live day, 8 cameras x 8 detections) with the real converter onto
// a simulated drive.
#include "frame/clock.h"
#include "frame/findau.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "platform/commandrunner.h"
#include "records/ui/camerastatisticswidget.h"
#include "records/ui/camereatabwidget.h"
#include "records/exportresultworker.h"
#include "records/resstatisticsdatabase.h"
#include "records/resstatisticsparam.h"
#include "records/ui/statisticswidget.h"
#include "testsupport/testenv.h"
#include "widgets/ccomp_diawait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include <benchmark/benchmark.h>

namespace {

struct Env
{
    TestEnv* env;
    TestClock* clock;
    ResStatisticsParam* model;
    StatisticsWidget* page;
};

QApplication* app = nullptr;
Env* torn = nullptr;

// The widgets, the model and the application object use statics of Qt's
// own (the SQL connection registry, the window system's thread storage)
// when they go: they go before main returns, in this order.
void teardown()
{
    if (!torn)
        return;
    delete torn->page;
    ResStatisticsParam::destroyInstance();
    Clock::install(nullptr);
    delete torn->clock;
    delete torn->env;
    delete app;
}

Env& env()
{
    static Env e = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_statspages";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg || type == QtCriticalMsg) // a failing export says why
                fprintf(stderr, "%s\n", qPrintable(text));
        });
        MessageTable::load();
        gLan = 1;
        numCamera = 8;
        gDNum = 8;
        gShowW = 1280;
        gShowH = 800;
        // The working directory is the factory's, with the export's converter.
        if (qEnvironmentVariableIsEmpty("STATION_BUILD_DIR"))
            qputenv("STATION_BUILD_DIR", (QCoreApplication::applicationDirPath() + "/..").toLocal8Bit());
        Env r;
        r.env = new TestEnv;
        r.clock = new TestClock(QDateTime(QDate(2025, 1, 6), QTime(9, 0)));
        Clock::install(r.clock);
        r.model = ResStatisticsParam::getInstance();
        r.model->init("default", 8);
        r.page = new StatisticsWidget;
        QStringList names{"All detect"};
        for (int d = 0; d < 8; ++d)
            names << QStringLiteral("detect %1").arg(d + 1);
        r.page->createWidget(names);
        r.page->connectModel(r.model);
        return r;
    }();
    torn = &e;
    return e;
}

QList<bool> flags(int i)
{
    QList<bool> f;
    for (int c = 0; c < 8; ++c)
        f << ((i + c) % 7 != 0);
    return f;
}

void countOne(ResStatisticsParam* m, int i) { m->addRecord(i % 8, 0, flags(i), i % 8 == 7); }

void BM_CountWithPageShown(benchmark::State& state)
{
    Env& e = env();
    e.page->show();
    QCoreApplication::processEvents();
    int i = 0;
    for (auto _ : state) {
        countOne(e.model, i++);
        QCoreApplication::processEvents(); // the repaint
    }
    e.page->hide();
}
BENCHMARK(BM_CountWithPageShown)->Unit(benchmark::kMicrosecond);

void BM_CountWithPageHidden(benchmark::State& state)
{
    Env& e = env();
    e.page->hide();
    int i = 0;
    for (auto _ : state) {
        countOne(e.model, i++);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_CountWithPageHidden)->Unit(benchmark::kMicrosecond);

// Yardstick: a plain widget of the panel's size painting 24 bar pairs with
// their numbers, repainted once per result.
class PlainBars : public QWidget
{
public:
    int seed = 0;
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int W = width(), H = height() / 2;
        for (int chart = 0; chart < 2; ++chart) {
            const int top = chart * H;
            p.drawLine(0, top + H - 20, W, top + H - 20);
            const int step = (W - 40) / 13;
            for (int i = 0; i < 12; ++i) {
                const int x = 20 + (i + 1) * step, a = (seed + i) % 40, b = (seed * 3 + i) % 40;
                p.fillRect(x - step / 2, top + H - 20 - a * 5, step / 2, a * 5, QColor(0, 255, 0, 200));
                p.fillRect(x, top + H - 20 - b * 5, step / 2, b * 5, QColor(255, 0, 0, 200));
                p.drawText(QRect(x - step / 2, top + H - 20, step, 20), Qt::AlignCenter, QString::number(i));
                p.drawText(QRect(x - step / 2, top + H - 40, step / 2, 20), Qt::AlignCenter, QString::number(a));
                p.drawText(QRect(x, top + H - 40, step / 2, 20), Qt::AlignCenter, QString::number(b));
            }
        }
    }
};

void BM_PlainWidgetBars(benchmark::State& state)
{
    Env& e = env();
    PlainBars w;
    w.resize(e.page->cameraTab(0)->panel(0)->size());
    w.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        ++w.seed;
        w.update();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_PlainWidgetBars)->Unit(benchmark::kMicrosecond);

// Longest gap of a 5 ms GUI timer while fn runs the event loop.
qint64 longestStall(const std::function<void()>& fn)
{
    QElapsedTimer t;
    t.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, t.elapsed() - last);
        last = t.elapsed();
    });
    tick.start(5);
    fn();
    worst = std::max(worst, t.elapsed() - last);
    return worst;
}

void writeYear()
{
    QJsonArray datas;
    for (int c = -1; c < 8; ++c) {
        QJsonArray data;
        for (int d = -1; d < 8; ++d) {
            QJsonArray ok, ng;
            for (int i = 0; i < 24; ++i) {
                ok << (i * 7 + c + d) % 50;
                ng << (i + c) % 4;
            }
            data << QJsonObject{{"detectID", d}, {"OK", ok}, {"NG", ng}};
        }
        datas << QJsonObject{{"cameraID", c}, {"data", data}};
    }
    QJsonObject group{{"groupName", "default"}, {"morningStart", 8}, {"nightStart", 20}, {"datas", datas}};
    const QString text = QString::fromUtf8(QJsonDocument(QJsonObject{{"groups", QJsonArray{group}}}).toJson());
    QDir().mkpath("ResStatistics");
    for (int day = 0; day < 366; ++day) {
        const QDate date = QDate(2025, 1, 6).addDays(-day);
        const QString path = day == 0 ? ResStatisticsDatabase::liveFile()
                                      : QStringLiteral("ResStatistics/%1.db").arg(date.toString("yyyy-MM-dd"));
        ResStatisticsDatabase::writeTemplate(path);
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "year");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.prepare("delete from resstatistics");
        q.exec();
        q.prepare("insert into resstatistics values('statisticsjson', ?, '')");
        q.addBindValue(text);
        q.exec();
        q.finish();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("year");
    }
}

void BM_ExportYear(benchmark::State& state)
{
    Env& e = env();
    writeYear();
    const QString drive = e.env->simRoot() + "/drives/sdb1";
    QDir().mkpath(drive);
    e.env->writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n");
    e.env->writeSimFile("/cmd/blkid.out", "/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"vfat\"\n");
    qint64 findStall = 0, runStall = 0;
    int failures = 0, folders = 0;
    for (auto _ : state) {
        CommandRunner::bash("umount /mnt");
        findStall = std::max(findStall, longestStall([] {
            CComp_DiaWait wait([] { FindAU(); });
            if (!wait.jobFinished())
                wait.exec();
        }));
        QThread t;
        ExportResultWorker w;
        w.moveToThread(&t);
        t.start();
        QEventLoop loop;
        QObject::connect(&w, &ExportResultWorker::finish, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QObject::connect(&w, &ExportResultWorker::failed, &loop, [&failures] { ++failures; }, Qt::QueuedConnection);
        QElapsedTimer timer;
        timer.start();
        runStall = std::max(runStall, longestStall([&] {
            QMetaObject::invokeMethod(&w, [&w] { w.work({"2024-01-06", "2025-01-06"}); });
            loop.exec();
        }));
        state.SetIterationTime(timer.elapsed() / 1000.0);
        QMetaObject::invokeMethod(&w, [&w] { w.moveToThread(QCoreApplication::instance()->thread()); },
                                  Qt::BlockingQueuedConnection);
        t.quit();
        t.wait();
        e.clock->advance(1000); // a new stamp folder each round
        for (const QString& stamp : QDir(drive).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            folders += QDir(drive + "/" + stamp).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        QDir(drive).removeRecursively();
        QDir().mkpath(drive);
    }
    state.counters["findau_stall_ms"] = double(findStall);
    state.counters["export_stall_ms"] = double(runStall);
    state.counters["failed"] = failures;
    state.counters["day_folders"] = folders;
}
BENCHMARK(BM_ExportYear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    teardown();
    return 0;
}
