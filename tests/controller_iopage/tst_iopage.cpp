// The multiple-detection I/O page, the custom I/O names dialog, the records
// page and the data export, driven as the operator drives them.
#include "controller/ui/customionamewidget.h"
#include "controller/ui/iocheckcombo.h"
#include "controller/ui/iowidget.h"
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "platform/commandrunner.h"
#include "records_statspages/boxanswer.h"
#include "records_statspages/statspagestestutil.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "settings/ui/dataexport.h"
#include "settings/ui/recordspage.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/exportdataselectdlg.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/warnbox.h"

#include <QLabel>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

// Which boxes of a row are enabled, as a string of 1 and 0.
QString enabled(IOWidget& p, int r)
{
    QString s;
    for (int i = 0; i < p.stepCount(); ++i)
        s += p.row(r)->box(i)->isEnabled() ? '1' : '0';
    return s;
}

void click(CheckBox* b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, b->height() / 2));
}

} // namespace

class TestIOPage : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<QWidget> host;

    std::unique_ptr<IOWidget> page()
    {
        auto p = std::make_unique<IOWidget>(host.get());
        p->show();
        return p;
    }

private slots:
    void init()
    {
        env.reset(new TestEnv); // a plain main window state, a 1280 x 800 screen
        gLan = 1;
        host.reset(new QWidget);
        host->resize(1280, 800);
        host->show();
        gpWPara = new WizardPara;
        gpWPara->systemMode = gpWPara->systemModeSet = 3;
        gpWPara->multiDetectNum = 3;
        for (int k = 0; k < 8; ++k) {
            gpWPara->multiOutDetect[k] = -1;
            gpWPara->customInName[k] = k;
            gpWPara->customOutName[k] = k;
        }
        gpWParaBak = new WizardPara(*gpWPara);
    }
    void cleanup()
    {
        OperationRecords::instance()->close();
        host.reset();
        env.reset();
    }

    void exclusionRule()
    {
        auto p = page();
        QVERIFY(!p->row(0)->box(3)->isVisible());
        click(p->row(0)->box(1));
        QCOMPARE(p->group(1), 0);
        QCOMPARE(enabled(*p, 1), QString("001"));
        QCOMPARE(enabled(*p, 2), QString("001"));
        click(p->row(1)->box(2));
        QCOMPARE(enabled(*p, 0), QString("110"));
        QCOMPARE(enabled(*p, 2), QString("000"));
        // Unchecking re-enables only what no other checked box rules out.
        click(p->row(0)->box(1));
        QCOMPARE(p->group(1), -1);
        QCOMPARE(enabled(*p, 0) + enabled(*p, 1) + enabled(*p, 2), QString("110111000"));
        // A disabled box cannot be checked by a touch.
        click(p->row(2)->box(0));
        QVERIFY(!p->row(2)->getCheckComboStatus(0));
        p->reset();
        for (int k = 0; k < 8; ++k)
            QCOMPARE(p->group(k), -1);
        QCOMPARE(enabled(*p, 2), QString("111"));
    }

    void confirmWritesTheEditCopyOnly()
    {
        auto p = page();
        const WizardPara live = *gpWPara;
        const WizardPara before = *gpWParaBak;
        click(p->row(0)->box(0));
        QStringList said;
        answerBox(true, &said);
        QTest::mouseClick(p->confirmButton(), Qt::LeftButton);
        QCOMPARE(said, QStringList{messageText(512)});
        QVERIFY(*gpWParaBak == before);
        QVERIFY(p->isVisible());

        click(p->row(1)->box(1));
        click(p->row(1)->box(2));
        p->row(2)->cutChooser()->setCurrentIndex(5);
        p->row(0)->triggerChooser()->setCurrentIndex(1);
        click(p->notSequentialBox());
        QSignalSpy relayout(p.get(), &IOWidget::pageLayoutRequested);
        QTest::mouseClick(p->confirmButton(), Qt::LeftButton);
        QVERIFY(!p->isVisible());
        QCOMPARE(gpWParaBak->multiDetectNum, 3);
        QCOMPARE(QVector<int>(gpWParaBak->multiOutDetect, gpWParaBak->multiOutDetect + 8),
                 QVector<int>({0, 1, 1, -1, -1, -1, -1, -1}));
        QCOMPARE(QVector<int>(gpWParaBak->multiTrigIn, gpWParaBak->multiTrigIn + 3), QVector<int>({1, 1, 1}));
        QCOMPARE(gpWParaBak->multiCutMode[2], 5);
        QCOMPARE(gpWParaBak->sequentialDetect, 1 - live.sequentialDetect);
        QCOMPARE(relayout.count(), 1);
        QVERIFY(*gpWPara == live);
    }

    void fewerStepsDropTheirGroups()
    {
        gpWPara->multiDetectNum = 8;
        const int groups[8] = {0, 1, 2, 3, 4, 4, 6, 7};
        std::copy(groups, groups + 8, gpWPara->multiOutDetect);
        auto p = page();
        QVERIFY(p->row(4)->getCheckComboStatus(5));
        p->countChooser()->setCurrentIndex(3);
        QCOMPARE(p->stepCount(), 5);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(p->group(k), k < 5 ? groups[k] : -1);
        QVERIFY(!p->row(5)->isVisible());
        QVERIFY(!p->row(4)->getCheckComboStatus(5));
    }

    void triggerChoicesNeverDecrease()
    {
        gpWPara->multiDetectNum = 8;
        gpWPara->multiTrigIn[2] = 2;
        gpWPara->multiTrigIn[3] = 6;
        auto p = page();
        p->row(1)->triggerChooser()->setCurrentIndex(4);
        // Row 2 was below the new choice: raised to it, and offers nothing lower.
        QCOMPARE(QList<int>({p->row(1)->choice(), p->row(2)->choice(), p->row(2)->triggerChooser()->count(),
                             p->row(3)->choice(), p->row(7)->triggerChooser()->count()}),
                 QList<int>({4, 4, 4, 6, 2}));
        QCOMPARE(p->row(2)->triggerChooser()->itemText(0), p->inputText(4));
        QCOMPARE(p->row(3)->triggerChooser()->currentText(), p->inputText(6));
    }

    void namesFollowTheDialog()
    {
        gpWPara->multiDetectNum = 4;
        auto p = page();
        QStringList texts;
        for (int i = 0; i < 4; ++i)
            texts << p->row(0)->box(i)->text();
        QCOMPARE(texts, QStringList({"Al thim", "Neu A I", "Neu A O", "Al clam"}));

        CustomIONameWidget names(host.get(), p.get());
        names.init();
        names.hide();
        QCOMPARE(names.inputChooser(5)->currentIndex(), 5);
        names.show();
        QCOMPARE(names.pos(), QPoint((host->width() - names.width()) / 2, (host->height() - names.height()) / 2));
        names.inputChooser(2)->setCurrentIndex(7);
        names.outputChooser(0)->setCurrentIndex(9);
        QTest::mouseClick(names.confirmButton(), Qt::LeftButton);
        QVERIFY(!names.isVisible());
        // The edit copy takes the names; the live set keeps its own.
        QCOMPARE(QList<int>({gpWParaBak->customOutName[0], gpWPara->customInName[2]}), QList<int>({9, 2}));
        for (int r = 0; r < 4; ++r)
            QCOMPARE(p->row(r)->box(3)->text(), QString("Rot"));

        gLan = 2;
        CustomIONameWidget tw(host.get(), p.get());
        QCOMPARE(tw.inputLabel(0)->text(), QString());
        QCOMPARE(tw.inputChooser(0)->itemText(1), QString::fromUtf8("安全門關"));
    }

    void storedValuesOutOfRangeLoadSafely()
    {
        gpWPara->multiDetectNum = 4;
        gpWPara->multiOutDetect[3] = 9;
        gpWPara->multiTrigIn[0] = 12;
        gpWPara->multiCutMode[0] = 7;
        gpWPara->customInName[0] = 20;
        gpWPara->customOutName[1] = 20;
        auto p = page();
        QCOMPARE(QList<int>({p->group(3), p->row(0)->choice(), p->row(0)->cutChooser()->currentIndex()}),
                 QList<int>({-1, 0, 0}));
        QCOMPARE(p->inputText(0), QString("Mol op"));
        QCOMPARE(p->row(0)->box(0)->text(), QString("Al clam"));
    }

    void recordsPageShowsAndClears()
    {
        OperationRecords* j = OperationRecords::instance();
        j->runStartup(2);
        QVERIFY(OperationRecords::writeTemplate("RECORD/2026-01-02.db"));
        gpWin->InsertRecord("first", "info");
        gpWin->InsertRecord("second", "set");
        RecordsPage rp;
        rp.show();
        QCOMPARE(rp.dayChooser()->count(), 2);
        QCOMPARE(rp.dayChooser()->itemText(1), QString("2026-01-02"));
        QCOMPARE(rp.table()->rowCount(), 3);
        QCOMPARE(rp.table()->item(0, 2)->text(), QString("second"));
        rp.dayChooser()->setCurrentIndex(1);
        QCOMPARE(rp.table()->rowCount(), 0);

        QStringList asked;
        answerBox(true, &asked);
        QTest::mouseClick(rp.clearButton(), Qt::LeftButton);
        QCOMPARE(asked, QStringList{messageText(297)});
        QCOMPARE(rp.table()->rowCount(), 1);
        QCOMPARE(rp.table()->item(0, 2)->text(), messageText(298));
    }

    void powerOffRecordLandsBeforeTheDatabasesClose()
    {
        OperationRecords::instance()->runStartup(1);
        struct Closing : MainState {
            int rowsAtClose = -1;
            void FLushAll() override
            {
                QSqlQuery q(OperationRecords::instance()->database());
                q.exec("SELECT count(*) FROM RECORD WHERE recordtype = 'operate'");
                rowsAtClose = q.next() ? q.value(0).toInt() : -1;
                MainState::FLushAll();
            }
        } closing;
        MainState* const plain = gpWin;
        gpWin = &closing;
        TestClock clock;
        Clock::install(&clock);
        LostCameraWarnBox box(nullptr);
        box.accept();
        QCOMPARE(closing.rowsAtClose, 1);
        QVERIFY(CommandRunner::loggedCommands().contains("init 0"));
        gpWin = plain;
    }

    void exportFromTheSettingsWindow()
    {
        // (No drive: the question and the retry are the export job's test.)
        addDrive(*env, false);
        env->writeWorkFile("RECORD/2026-03-01.db", "journal");
        env->writeWorkFile("ruv_net/workspace/log/a.log", "log");
        DataExport ex(host.get());
        QSignalSpy start(&ex, &DataExport::sigExportDataStart);
        QSignalSpy finish(&ex, &DataExport::sigExportDataFinish);
        QStringList done;
        answerModal([&](QWidget* w) {
            if (auto* dlg = qobject_cast<ExportDataSelectDlg*>(w)) {
                click(dlg->itemBoxes()[4]);
                click(dlg->itemBoxes()[5]);
                dlg->exportButton()->click();
            }
        });
        ex.SlotExportData();
        QCOMPARE(start.count(), 1);
        answerBox(true, &done);
        QTRY_COMPARE(finish.count(), 1);
        QTRY_COMPARE(done, QStringList{messageText(147)});
        QDir drive(env->simRoot() + "/drives/sdb1");
        const QString out = drive.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
        QVERIFY(QFile::exists(drive.filePath(out + "/RECORD/2026-03-01.db")));
        QVERIFY(QFile::exists(drive.filePath(out + "/ruv_net/workspace/log/a.log")));
    }
};

QTEST_MAIN(TestIOPage)
#include "tst_iopage.moc"
