// The I/O board out of reach through the running station: the notice as on top
// of the screen, the records in RECORD.db, the outputs on the wire.
#include "boardconsole.h"
#include "controller/operationrecords.h"
#include "controller/ui/boardlinkbox.h"
#include "controller/ui/indexbutton.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "settings/ui/wizardparawidget.h"
#include "testsupport/fingerdrag.h"
#include "widgets/slider.h"
#include "testsupport/logcapture.h"
#include "testsupport/stationrig.h"

#include <QtTest>

namespace {
// Rows of today's journal that begin as `text` does (up to its first figure).
int records(const QString& text)
{
    QVector<OperationRecords::Row> rows;
    OperationRecords::readRows(OperationRecords::kDbFile, &rows);
    const auto begins = [head = text.section("%1", 0, 0)](const auto& r) { return r.text.startsWith(head); };
    return int(std::count_if(rows.begin(), rows.end(), begins));
}

// The notice's text when it is on top at its centre. It takes no touch, so
// the stacking says what lies over it there.
QString shownNotice(ReDoWizard& win)
{
    BoardLinkBox* box = win.boardLinkBox;
    if (!box->isVisible())
        return QString();
    const QPoint at = box->geometry().center();
    if (QWidget* top = QApplication::topLevelAt(win.mapToGlobal(at)); top != &win)
        return "under " + finger::describe(top);
    const QObjectList& stack = win.children();
    for (int i = stack.indexOf(box) + 1; i < stack.size(); ++i)
        if (auto* w = qobject_cast<QWidget*>(stack[i]); w && w->isVisible() && w->geometry().contains(at))
            return "under " + finger::describe(w);
    return box->text();
}
// Whether the notice leaves the widget wholly in sight.
bool clearOf(ReDoWizard& win, QWidget* w)
{
    return !win.boardLinkBox->geometry().intersects(QRect(w->mapTo(&win, QPoint()), w->size()));
}
} // namespace

class TstBoardLink : public QObject
{
    Q_OBJECT
private slots:
    void boardOutOfReach_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("silent while an alarm holds the mould") << false;
        QTest::newRow("port missing at start") << true;
    }

    // One notice and record; once the board answers, a record and the word wanted now.
    void boardOutOfReach()
    {
        QFETCH(bool, atStart);
        const auto wantedWord = [] { QMutexLocker l(boardIoMutex()); return gDataOut & 0x3FFu; };
        TestEnv env;
        const stationrig::Roi onPart{1, {220, 140, 40, 50}, 0, 50, 170 | (255 << 8)}; // grey where a part stays
        QVERIFY(stationrig::teachMould(stationrig::oneCamera(env, "LINK-1"), {onPart}));
        BoardSim sim;
        std::string err;
        QVERIFY2(atStart || stationrig::startBoard(sim, &err), err.c_str());
        LogCapture log;
        ReDoWizard win;
        win.show();
        stationrig::MouldRun run(sim, win, *win.views[0]);
        BoardConsole console(sim, run.machine);
        const QString silent = atStart ? messageText(901).arg(boardDevice()) : messageText(900);
        if (atStart) {
            QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), silent, 3000);
            QVERIFY2(stationrig::startBoard(sim, &err), err.c_str());
        } else {
            run.leaveNext = true;
            QTRY_VERIFY_WITH_TIMEOUT(gpWin->detectState == 2 && (sim.outputs() & 5u) == 5u, 10000);
            win.TimerLCD(); // the screen's off time ran out: dark
            QCOMPARE(console.command("silent on"), std::string("board silent"));
            QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), silent, 3000);
            QCOMPARE(win.screenOff, 0); // the notice lit it
            // The alarm cleared meanwhile: the station lets go, the board cannot hear it.
            QVERIFY(finger::tap(win.roiPanel->noCheckButton));
            QTRY_COMPARE_WITH_TIMEOUT(gpWin->detectState, 0, 3000);
            QCOMPARE(wantedWord() & 5u, 0u);
            const uint64_t polled = sim.totalFrames();
            QTRY_VERIFY_WITH_TIMEOUT(sim.totalFrames() >= polled + 400, 10000); // two seconds of polls
            QCOMPARE(sim.outputs() & 5u, 5u);
            QCOMPARE(shownNotice(win), silent);
            QCOMPARE(console.command("silent off"), std::string("board answering"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), QString(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.outputs(), wantedWord(), 2000);
        QCOMPARE(records(silent), 1);
        QCOMPARE(records(messageText(902)), 1);
        QCOMPARE(log.matching({"I/O board: port"}).size(), atStart ? 2 : 0); // not open, then opened
        if (atStart)
            return;

        // A dropout while the settings are open: the notice under them until they close.
        QVERIFY(finger::tap(win.views[0]));
        QVERIFY(finger::tap(win.sideBar->systemPara));
        QTRY_VERIFY_WITH_TIMEOUT(win.settingsWindow->isVisible(), 2000);
        console.command("silent on");
        QTRY_VERIFY_WITH_TIMEOUT(win.boardLinkBox->isVisible(), 2000);
        const QPoint notice = win.boardLinkBox->mapToGlobal(QPoint(40, 40));
        QVERIFY2(win.settingsWindow->isAncestorOf(QApplication::widgetAt(notice)), qPrintable(shownNotice(win)));
        QVERIFY(finger::tap(win.settingsWindow->cancelButton));
        QTRY_COMPARE_WITH_TIMEOUT(shownNotice(win), silent, 3000);

        // Meanwhile the region editor, a region drawn over the whole image:
        // its +1 and its top-left handle take their touches, in sight.
        CammerWidget* v = win.views[0];
        QVERIFY(finger::tap(v));
        QVERIFY(finger::tap(win.sideBar->regionSettings));
        QVERIFY(finger::tap(win.roiPanel->rectButton));
        QCOMPARE(finger::drag(v->mapToGlobal(QPoint(140, 90)), v->mapToGlobal(QPoint(1130, 710))), v);
        const int i = win.editDetect * CameraViewState::kRois + v->curRoi;
        const int sensitivity = v->editStore->paramA[i];
        QTRY_VERIFY_WITH_TIMEOUT(clearOf(win, v->sliderA->addButton()), 1000);
        QVERIFY(finger::tap(v->sliderA->addButton()));
        QCOMPARE(v->editStore->paramA[i], sensitivity + 1);
        const QPoint corner = v->editStore->rects[i].rect.topLeft();
        QVERIFY(!win.boardLinkBox->geometry().intersects(QRect(corner - QPoint(20, 20), QSize(41, 41))));
        QCOMPARE(finger::drag(v->mapToGlobal(corner), v->mapToGlobal(corner + QPoint(30, 20)), 4), v);
        QCOMPARE(v->editStore->rects[i].rect.topLeft(), corner + QPoint(30, 20));
        QCOMPARE(shownNotice(win), silent);
    }
};

QTEST_MAIN(TstBoardLink)
#include "tst_boardlink.moc"
