// ROI editing: the commit of eight cameras with one ROI changed on each
// (compare and copy against a plain memcmp of the same stores; the whole
// commit with the PARAM.db write), a drag of one ROI among 36 on a real view
// (mouse event plus repaint) against a plain drawImage of the frame, and the
// resident size of eight cameras' stores through opening, edits and commit.
#include "testsupport/testenv.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/roicommit.h"
#include "inspection/roitouchedit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

class Yes : public OperatorPrompt
{
public:
    bool prompt(Kind, int, const QString&) override { return true; }
};

class QuietState : public MainState
{
public:
    bool InsertRecord(const QString&, const QString&) override
    {
        ++records;
        return true;
    }
    int records = 0;
};

struct Cam : CameraViewState
{
    explicit Cam(int c)
    {
        cameraIndex = c;
        imageWidth = 1280;
        imageHeight = 1024;
        roiScaleY = 800.0f / 1024.0f;
        liveStore = new CammerSingleton(c, this);
        editStore = new CammerSingleton(c, this);
    }
    ~Cam() override
    {
        delete liveStore;
        delete editStore;
    }
};

// A realistic teaching: two detections of 36 ROIs, a third of them polygons
// of 40 points.
void teach(CammerSingleton* s, float sx, float sy)
{
    for (int d = 0; d < 2; ++d) {
        s->roiCount[d] = 36;
        for (int r = 0; r < 36; ++r) {
            const int i = d * 100 + r, x = 20 + (r % 9) * 138, y = 20 + (r / 9) * 190;
            s->funcType[i] = r % 4 == 3 ? 1 : 0;
            s->paramA[i] = 25;
            s->paramB[i] = 100;
            s->paramC[i] = 3;
            if (r % 3 == 2) {
                QPoint pts[40];
                for (int k = 0; k < 40; ++k)
                    pts[k] = QPoint(x + (k < 20 ? k * 6 : (39 - k) * 6), y + (k < 20 ? 0 : 150));
                s->polygons[i] = RePolygon(40, pts);
                s->polygons[i].setShowA(sx, sy);
                s->polygons[i].setImageRect();
                s->shapeKind[i] = 2;
            } else {
                s->rects[i].rect = QRect(x, y, 120, 160);
                s->rects[i].setShowA(sx, sy);
                s->rects[i].setImageRect();
                s->shapeKind[i] = 1;
            }
        }
    }
}

struct Eight
{
    QTemporaryDir dir;
    std::vector<std::unique_ptr<Cam>> cams;
    RoiCommit commit;
    long rssEmpty = 0, rssTaught = 0, rssReset = 0, rssEdited = 0, rssCommitted = 0;

    Eight()
    {
        QDir::setCurrent(dir.path());
        gpWin->paraDb.close();
        gpWin->paraDb.setDatabaseName(dir.path() + "/PARAM.db");
        gpWin->paraDb.open();
        gpWin->paraQuery = QSqlQuery(gpWin->paraDb);
        rssEmpty = residentKb();
        QVector<CameraViewState*> views;
        for (int c = 0; c < 8; ++c) {
            cams.push_back(std::make_unique<Cam>(c));
            teach(cams.back()->liveStore, cams.back()->roiScaleX, cams.back()->roiScaleY);
            cams.back()->liveStore->SaveDatatoFile();
            views << cams.back().get();
        }
        rssTaught = residentKb();
        for (auto& c : cams) { // what the editor's Reset does
            RoiCommit::copyStore(*c->editStore, *c->liveStore);
            RoiTouchEdit::backMasks(*c);
        }
        rssReset = residentKb();
        commit.setViews(views);
    }
    void editOne(int n)
    {
        for (auto& c : cams)
            c->editStore->paramA[n % 36] += 1;
    }
};

MainState* setUp()
{
    static QuietState* st = nullptr;
    if (st)
        return st;
    MessageTable::load();
    static Yes yes;
    OperatorPrompt::install(&yes);
    gLan = 1;
    gDNum = 2;
    numCamera = 8;
    gShowW = 1280;
    gShowH = 800;
    gpWPara = new WizardPara;
    gpWParaBak = new WizardPara;
    st = new QuietState;
    gpWin = st;
    st->paraDb = QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    return st;
}

void BM_CompareCopyEight(benchmark::State& state)
{
    setUp();
    Eight e;
    int n = 0;
    for (auto _ : state) {
        e.editOne(n++);
        for (auto& c : e.cams)
            if (RoiCommit::storesDiffer(*c->liveStore, *c->editStore))
                RoiCommit::copyStore(*c->liveStore, *c->editStore);
    }
}
BENCHMARK(BM_CompareCopyEight)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PlainMemcmpEight(benchmark::State& state)
{
    setUp();
    Eight e;
    // Equal stores: memcmp reads all of each, as the change test must.
    for (auto _ : state) {
        int diff = 0;
        for (auto& c : e.cams)
            diff += std::memcmp(c->liveStore, c->editStore, sizeof(CammerSingleton)) != 0;
        benchmark::DoNotOptimize(diff);
    }
}
BENCHMARK(BM_PlainMemcmpEight)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_CommitEight(benchmark::State& state)
{
    setUp();
    Eight e;
    int n = 0;
    for (auto _ : state) {
        e.editOne(n++);
        benchmark::DoNotOptimize(e.commit.SlotSaveData());
    }
    e.rssEdited = residentKb();
    state.counters["rss_empty_MiB"] = e.rssEmpty / 1024.0;
    state.counters["rss_taught_MiB"] = e.rssTaught / 1024.0;
    state.counters["rss_after_reset_MiB"] = e.rssReset / 1024.0;
    state.counters["rss_after_commits_MiB"] = e.rssEdited / 1024.0;
    state.counters["store_MiB"] = sizeof(CammerSingleton) / 1048576.0;
}
BENCHMARK(BM_CommitEight)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// ---- drag on a real view

struct OneView
{
    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    CammerWidget* view = nullptr;
    QImage target{1280, 800, QImage::Format_ARGB32_Premultiplied};

    OneView()
    {
        const QString plugs = dir.path() + "/plugs";
        QDir().mkpath(plugs);
        const QString built = qEnvironmentVariable("STATION_BUILD_DIR", QCoreApplication::applicationDirPath() + "/..");
        QFile::copy(built + "/Plugins/Cameras/libsimcamera.so", plugs + "/bench.so");
        QFile cfg(plugs + "/bench.json");
        cfg.open(QIODevice::WriteOnly);
        cfg.write(QJsonDocument(QJsonObject{{"typeName", "BenchEdit"}, {"kind", 1}, {"fps", 10},
                                            {"cameras", QJsonArray{QJsonObject{{"sn", "BENCH-EDIT-0001"}}}}})
                      .toJson());
        cfg.close();
        QDir::setCurrent(dir.path());
        delete CameraManager::_instance;
        CameraManager::_instance = new CameraManager;
        CameraManager* m = CameraManager::_instance;
        m->setPluginDir(plugs);
        m->loadPlugins();
        m->findCameras();
        host = std::make_unique<QWidget>();
        host->resize(1280, 800);
        view = new CammerWidget(host.get(), 0, m->cameras.value(0));
        view->setGeometry(0, 0, 1280, 800);
        view->show();
        view->CameraChangeTrig(true);
        view->camera->setValue(QString("trigger"), 100);
        view->UpdateImage();
        teach(view->editStore, view->roiScaleX, view->roiScaleY);
        for (int r = 0; r < 36; ++r)
            view->refreshShape(r);
        gSource = 0;
        gpWin->curCamera = 0;
        gpWin->editDetect = 0;
        gpWin->drawTool = 0;
        numCamera = 1;
    }
    void send(QEvent::Type t, QPoint p, Qt::MouseButtons b)
    {
        QMouseEvent e(t, p, view->mapToGlobal(p), Qt::LeftButton, b, Qt::NoModifier);
        QApplication::sendEvent(view, &e);
    }
};

void BM_DragAmong36(benchmark::State& state)
{
    setUp();
    OneView v;
    const QPoint start(80, 100); // inside ROI 0
    v.send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    int k = 0;
    for (auto _ : state) {
        const QPoint at = start + QPoint((k++ % 2) ? 0 : 4, 0);
        v.send(QEvent::MouseMove, at, Qt::LeftButton);
        v.host->render(&v.target);
    }
    v.send(QEvent::MouseButtonRelease, start, Qt::NoButton);
    numCamera = 8;
}
BENCHMARK(BM_DragAmong36)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PlainDrawImage(benchmark::State& state)
{
    setUp();
    OneView v;
    QPainter p(&v.target);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QImage frame(v.view->displayBuffer.data(), v.view->imageWidth, v.view->imageHeight, v.view->imageWidth,
                       QImage::Format_Grayscale8);
    for (auto _ : state)
        p.drawImage(QRect(0, 0, 1280, 800), frame);
    numCamera = 8;
}
BENCHMARK(BM_PlainDrawImage)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
