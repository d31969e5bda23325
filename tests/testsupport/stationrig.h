// The whole station's rig for tests that run the real main window: one
// 640 x 480 mono camera of the simulated plug-in, the board simulator on the
// factory set's board port, and the mould detection taught into PARAM.db the
// way the ROI editor stores it (screen units). Header-only: its users link
// boardsimcore and simscene themselves.
#pragma once

#include "boardsim.h"
#include "mouldingmachine.h"
#include "simscene.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "inspection/camerainterface.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"
#include "inspection/ui/cammerwidget.h"
#include "platform/platformpath.h"
#include "widgets/boxprompt.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"
#include "testsupport/finger.h"
#include "testsupport/testenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stationrig {

// The rig's one camera shows in the view's first display slot.
constexpr int kDisplay = 1;

// One mono camera, one cavity, no parts unless one is left behind; the
// plug-in is pointed at it. Empty on failure.
inline QJsonObject oneCamera(TestEnv& env, const QString& sn)
{
    const QJsonObject cam{{"sn", sn}, {"width", 640}, {"height", 480}, {"cavitiesX", 1}, {"cavitiesY", 1}};
    if (!env.writeWorkFile("simcamera.json",
                           QJsonDocument(QJsonObject{{"kind", 1}, {"cameras", QJsonArray{cam}}}).toJson()))
        return {};
    qputenv("STATION_SIMCAMERA_CONFIG", QDir::current().absoluteFilePath("simcamera.json").toLocal8Bit());
    return cam;
}

// The board simulator's machine on the pseudo-terminal the station opens
// (the factory set's board port is 0).
inline bool startBoard(BoardSim& sim, std::string* err)
{
    if (!sim.open(err) || !sim.linkAt(platform::path("/dev/ttyS0").toStdString(), err))
        return false;
    sim.start();
    return true;
}

// A rectangle ROI in frame pixels with its detection and parameters.
struct Roi
{
    int type;
    QRect img;
    int a, b, c;
};

// Teaches the ROIs for the rig's camera, or camera number `camera` (frame
// pixels scale to the screen), with the empty mould's frame as the
// template; `more` may change PARAM.db further before it closes.
inline bool teachMould(const QJsonObject& cam, const std::vector<Roi>& rois,
                       const std::function<bool(QSqlDatabase&)>& more = {}, int camera = 0)
{
    SimScene scene;
    scene.configure(cam, 640, 480);
    const QString dir = QString("cammer%1%2").arg(camera + 1).arg(kDisplay + 1);
    if (!QDir().mkpath(dir) || !cv::imwrite((dir + "/template0.bmp").toStdString(), scene.frame(0)))
        return false;
    auto owner = std::make_unique<CameraViewState>(); // both too big for the stack
    auto store = std::make_unique<CammerSingleton>(camera, owner.get());
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const float sx = float(screen.width()) / 640, sy = float(screen.height()) / 480;
    const int d = kDisplay;
    for (int r = 0; r < int(rois.size()); ++r) {
        const Roi& roi = rois[size_t(r)];
        const int i = d * 100 + r;
        store->funcType[i] = roi.type;
        store->shapeKind[i] = 1;
        store->paramA[i] = roi.a;
        store->paramB[i] = roi.b;
        store->paramC[i] = roi.c;
        store->rects[i].rect = QRect(qRound(roi.img.x() * sx), qRound(roi.img.y() * sy),
                                     qRound(roi.img.width() * sx), qRound(roi.img.height() * sy));
    }
    store->roiCount[d] = int(rois.size());
    bool ok = ParameterStartup::openParamDb(gpWin) && store->SaveDatatoFile() && (!more || more(gpWin->paraDb));
    gpWin->paraQuery = QSqlQuery();
    gpWin->paraDb.close();
    return ok;
}

// Switches the statistics on (the 10th value of system6), as an operator
// does; for teachMould's `more`.
inline bool statisticsOn(QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (!q.exec("select value from sysparam where name = 'system6'") || !q.next())
        return false;
    QStringList values = q.value(0).toString().split(' ');
    values[9] = "1";
    return q.exec(QString("update sysparam set value = '%1' where name = 'system6'").arg(values.join(' ')));
}

// No passwords, no door to open before an alarm is lifted, no alarm sound,
// and the clamp and alarm outputs not inverted: the wire shows the levels.
inline void unattended(WizardPara& p)
{
    p.isPswUsed = p.addTempPswUsed = p.nocheckPswUsed = 0;
    p.doorLiftAlarm = p.noAlarmSound = p.outInitState[0] = p.outInitState[2] = 0;
}

// The simulated cameras the station will open: their configurations,
// written into `dir` and named to the plug-in.
inline bool useCameras(const QTemporaryDir& dir, const QJsonArray& cameras)
{
    const QString path = dir.filePath("simcamera.json");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QJsonDocument(QJsonObject{{"kind", 1}, {"cameras", cameras}}).toJson());
    f.close();
    qputenv("STATION_SIMCAMERA_CONFIG", path.toLocal8Bit());
    return true;
}

// The journeys' machine, stored in PARAM.db: mode `mode`, the product
// detection on input 0 (0.1 s) and the mould detection on input 2 (0.3 s),
// no re-checks, unattended; `more` sets what one journey adds before the
// modes derive the rest.
template <class More>
bool storeJourneyMachine(int mode, More&& more)
{
    WizardPara p;
    p.LoadDatafromFile();
    p.systemMode = mode;
    p.semiAuto = 1;
    p.enableProdDetect = 1;
    p.reCheckTimes = 0;
    p.trigInDelay[0] = 1;
    p.trigInDelay[1] = 3;
    unattended(p);
    more(p);
    int mould = 1;
    p.deriveByMode(&mould);
    return p.SaveDatatoFile();
}

// The hand at the panel: every 20 ms it touches YES (or OK) of a house box
// that shows, or NO when `yes` is false, and notes the box's text in
// `texts` when given. `answer` may be replaced by another finger's.
class BoxHand
{
public:
    explicit BoxHand(QStringList* texts = nullptr)
    {
        BoxPrompt::installShared();
        QObject::connect(&m_timer, &QTimer::timeout, [this, texts] {
            const QString text = answer(yes);
            if (!text.isNull() && texts)
                *texts << text;
        });
        m_timer.start(20);
    }
    void stop() { m_timer.stop(); }

    bool yes = true;
    std::function<QString(bool yes)> answer = finger::answerShownBox;

private:
    QTimer m_timer;
};

// The moulding machine in real time on the board simulator, ticked every
// 5 ms: each time the mould opens, `atOpening` runs first (a part left
// behind), then every camera of the window shoots.
class MachineTick
{
public:
    MachineTick(BoardSim& sim, ReDoWizard& win, const MouldingMachine::Timing& timing,
                std::function<void()> atOpening = {})
        : machine(sim, timing)
    {
        m_clock.start();
        QObject::connect(&m_tick, &QTimer::timeout, [this, &sim, &win, atOpening] {
            machine.tick(m_clock.elapsed());
            const bool open = sim.inputs() & 1u;
            if (open && !m_wasOpen) {
                if (atOpening)
                    atOpening();
                for (int c = 0; c < numCamera; ++c)
                    win.views[c]->camera->setValue(QString("trigger"), 100);
            }
            m_wasOpen = open;
        });
        m_tick.start(5);
    }
    void stop() { m_tick.stop(); }

    MouldingMachine machine;

private:
    QTimer m_tick;
    QElapsedTimer m_clock;
    bool m_wasOpen = false;
};

// The window starts detecting with the parameters as they are set now:
// the modes derive the rest, the camera shoots only when told, the board
// is polled.
inline void startDetecting(ReDoWizard& win, CammerWidget& view)
{
    gpWPara->deriveByMode(&win.curMould);
    view.camera->setTrigger(true);
    gpControlIO->InitIOThread();
    win.cycle->StartDetect();
}

// The window detecting in semi-automatic mode: no passwords, no alarm sound,
// NG images kept, no re-checks, the mould detection 300 ms after the ejector,
// frames only when the camera is told to shoot.
inline void detectSemiAuto(ReDoWizard& win, CammerWidget& view)
{
    WizardPara& p = *gpWPara;
    p.systemMode = 0;
    p.semiAuto = 1;
    p.enableProdDetect = 0;
    p.reCheckTimes = 0;
    p.trigInDelay[1] = 3;
    unattended(p);
    gTempNum = std::max(gTempNum, 3);
    gPicNumNG = 10;
    startDetecting(win, view);
}

// The window's semi-automatic run on the moulding machine: no passwords, no
// alarm sound, NG images kept (an alarm's result code is "NG shown"), frames
// only when the camera is told to shoot. The operator answers every house
// box with YES (or OK), its text noted in `boxTexts` if given; the machine
// cycles in real time and the camera shoots each time the mould opens, with
// a part left behind when `leaveNext` asks for one.
class MouldRun
{
public:
    MouldRun(BoardSim& sim, ReDoWizard& win, CammerWidget& view, QStringList* boxTexts = nullptr)
        : m_hand(boxTexts)
        , m_tick(sim, win, timing(), [this, &view] {
            if (leaveNext)
                view.camera->setValue(QString("leftBehind"), 100);
            leaveNext = false;
        })
        , machine(m_tick.machine)
        , answer(m_hand.answer)
    {
        detectSemiAuto(win, view);
    }

    void stop()
    {
        m_tick.stop();
        m_hand.stop();
    }

private:
    static MouldingMachine::Timing timing()
    {
        MouldingMachine::Timing t;
        t.closedMs = 500;
        t.openMs = 1500;
        return t;
    }

    BoxHand m_hand;
    MachineTick m_tick;

public:
    MouldingMachine& machine;
    bool leaveNext = false;
    // The hand at the panel: touches YES (or OK) of a box that shows and
    // returns its text, a null string when none shows.
    std::function<QString(bool yes)>& answer;
};

} // namespace stationrig
