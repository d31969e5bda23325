// The I/O board out of reach, through the running station: the main window
// over the simulated camera, the board simulator's machine on a
// pseudo-terminal told "silent on" and "silent off" at its console, the
// alarm cleared through the finger. The notice is read from what is on top
// of the screen, the records from RECORD.db, the lines from the station's
// log, the outputs from the wire. Real time; every wait is bounded.
#include "boardconsole.h"
#include "controller/iothread.h"
#include "controller/operationrecords.h"
#include "controller/ui/boardlinkbox.h"
#include "controller/ui/indexbutton.h"
#include "frame/logmanager.h"
#include "inspection/ui/drawroiwidget.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/stationrig.h"

#include <QDirIterator>
#include <QtTest>

#include <glog/logging.h>

namespace {

const QRect kOnPart(220, 140, 40, 50); // a part left in the cavity shows here

uint32_t wantedWord()
{
    QMutexLocker l(boardIoMutex());
    return gDataOut & 0x3FFu;
}

// Rows of today's journal whose text is `text` (%1 stands for a number).
int records(const QString& text)
{
    QVector<OperationRecords::Row> rows;
    if (!OperationRecords::readRows(OperationRecords::kDbFile, &rows))
        return -1;
    QStringList parts = text.split("%1");
    for (QString& p : parts)
        p = QRegularExpression::escape(p);
    const QRegularExpression whole(QRegularExpression::anchoredPattern(parts.join("\\d+")));
    return int(std::count_if(rows.begin(), rows.end(), [&](const auto& r) { return whole.match(r.text).hasMatch(); }));
}

// The station's log in this test's working directory, as main starts it there.
void startLog()
{
    static LogManager* manager = new LogManager(qApp); // glog and the message handler, once
    Q_UNUSED(manager);
    QDir().mkpath(LogManager::logDir());
    google::SetLogDestination(google::GLOG_INFO,
                              qPrintable(QDir::current().absoluteFilePath(LogManager::logDir() + "LOG_")));
}

int logLines(const QString& text)
{
    google::FlushLogFiles(google::GLOG_INFO);
    int n = 0;
    for (QDirIterator it(LogManager::logDir(), {"LOG_*"}, QDir::Files); it.hasNext();) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            n += QString::fromUtf8(f.readAll()).count(text);
    }
    return n;
}

// The notice as the screen shows it: the widget on top at its centre.
QString shownNotice(ReDoWizard& win)
{
    BoardLinkBox* box = win.boardLinkBox;
    if (!box->isVisible())
        return QString();
    QWidget* top = QApplication::widgetAt(box->mapToGlobal(box->rect().center()));
    auto* shown = qobject_cast<BoardLinkBox*>(top);
    return shown ? shown->text() : "under " + finger::describe(top);
}

} // namespace

class TstBoardLink : public QObject
{
    Q_OBJECT
private slots:
    void silentBoardIsShownAndTheClearedAlarmReachesItAfter();
    void portMissingAtStartIsShownUntilItAppears();
};

// An NG alarm holds the mould; the board falls silent for a while. The
// notice comes within the bound and stays, with one record and one log line;
// the operator clears the alarm meanwhile, which the board cannot hear. The
// board answers again: the notice goes, a record and a log line say so, and
// the board gets the word the station wants now, so the mould is released.
// A second dropout comes while the settings window is open.
void TstBoardLink::silentBoardIsShownAndTheClearedAlarmReachesItAfter()
{
    TestEnv env;
    const QJsonObject cam = stationrig::oneCamera(env, "LINK-1");
    BoardSim sim;
    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());
    QVERIFY(stationrig::teachMould(cam, {{1, kOnPart, 0, 50, 170 | (255 << 8)}}));
    startLog();
    ReDoWizard win;
    win.show();
    stationrig::MouldRun run(sim, win, *win.views[0]);
    BoardConsole console(sim, run.machine);
    run.leaveNext = true;
    QTRY_VERIFY_WITH_TIMEOUT(gpWin->detectState == 2 && (sim.outputs() & 5u) == 5u, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(run.machine.phase(), MouldingMachine::Phase::Held, 3000);

    const QString silent = messageText(900);
    QElapsedTimer quiet;
    QCOMPARE(console.command("silent on"), std::string("board silent"));
    quiet.start();
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), silent, 3000);
    qInfo("notice %lld ms after the board fell silent", quiet.elapsed());
    QCOMPARE(records(silent), 1);
    QCOMPARE(logLines("I/O board: no valid answer for"), 1);

    // The operator clears the alarm: the station lets go, the board does not hear.
    QVERIFY(finger::tap(win.roiPanel->noCheckButton));
    QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 0, 3000);
    QCOMPARE(wantedWord() & 5u, 0u);
    const uint64_t polled = sim.totalFrames();
    QTRY_VERIFY_WITH_TIMEOUT(sim.totalFrames() >= polled + 400, 10000); // two seconds of polls
    QCOMPARE(sim.outputs() & 5u, 5u);
    QCOMPARE(run.machine.phase(), MouldingMachine::Phase::Held);
    QCOMPARE(shownNotice(win), silent);
    QCOMPARE(records(silent), 1);

    const size_t from = sim.frameCount();
    QCOMPARE(console.command("silent off"), std::string("board answering"));
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), QString(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.outputs() & 5u, 0u, 2000);
    const uint32_t word = wantedWord();
    QVERIFY(sim.waitForFrame([word](const BoardSim::Frame& f) { return f.command == 1 && f.data == word; }, 10,
                             from) >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(run.machine.phase() != MouldingMachine::Phase::Held, 3000);
    QCOMPARE(records(silent), 1);
    QCOMPARE(records(messageText(902)), 1);
    QCOMPARE(logLines("I/O board: answering again after"), 1);

    // A dropout while the settings are open: the notice stays under their
    // window, within reach, and is on top once it closes.
    QVERIFY(finger::tap(win.views[0]));
    QVERIFY(finger::tap(win.sideBar->systemPara));
    QTRY_VERIFY_WITH_TIMEOUT(win.settingsWindow->isVisible(), 2000);
    console.command("silent on");
    QTRY_VERIFY_WITH_TIMEOUT(win.boardLinkBox->isVisible(), 2000);
    QVERIFY2(win.settingsWindow->isAncestorOf(QApplication::widgetAt(win.boardLinkBox->mapToGlobal(QPoint(40, 40)))),
             qPrintable(shownNotice(win)));
    QVERIFY(finger::tap(win.settingsWindow->cancelButton));
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), silent, 3000);
    console.command("silent off");
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), QString(), 3000);
    run.stop();
}

// No board port when the station starts: the notice names the port at
// once; the board plugged in later is taken up, the notice goes and the
// outputs the station wants reach the board.
void TstBoardLink::portMissingAtStartIsShownUntilItAppears()
{
    TestEnv env;
    const QJsonObject cam = stationrig::oneCamera(env, "LINK-2");
    QVERIFY(stationrig::teachMould(cam, {{1, kOnPart, 0, 50, 170 | (255 << 8)}}));
    startLog();
    BoardSim sim;
    ReDoWizard win;
    win.show();
    stationrig::MouldRun run(sim, win, *win.views[0]);
    const QString missing = messageText(901).arg(boardDevice());
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), missing, 3000);
    QCOMPARE(records(missing), 1);
    QCOMPARE(logLines("not open"), 1);

    std::string err;
    QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());
    QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), QString(), 3000);
    QCOMPARE(logLines("opened"), 1);
    QCOMPARE(records(messageText(902)), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sim.outputs(), wantedWord(), 2000);
    run.stop();
}

QTEST_MAIN(TstBoardLink)
#include "tst_boardlink.moc"
