// The statistics page with the real model, real day files and the real
// converter, clicked as an operator would; renders at both panel sizes.
#include "records/ui/camereatabwidget.h"
#include "records/ui/camerastatisticswidget.h"
#include "records/ui/dateseletdialog.h"
#include "records/diskmanager.h"
#include "records/exportresultworker.h"
#include "records/ui/histogram.h"
#include "records/ui/statisticswidget.h"
#include "frame/operatorprompt.h"
#include "records_statspages/boxanswer.h"
#include "records_statspages/statspagestestutil.h"
#include "testsupport/finger.h"
#include <QTabBar>
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {
bool greenish(const QColor& c) { return c.green() > 200 && c.red() < 120; }
QAbstractButton* captioned(QWidget* w, int msg)
{
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->isVisible() && b->text() == messageText(msg))
            return b;
    return nullptr;
}
// The export's dates: the last week, then OK.
QAbstractButton* lastWeekThenOk(QWidget* w)
{
    auto* d = qobject_cast<DateSeletDialog*>(w);
    if (!d)
        return nullptr;
    finger::tap(d->rangeButtons()->button(2));
    for (QAbstractButton* b : d->findChildren<QAbstractButton*>())
        if (b->isVisible() && b->text() == messageText(121))
            return b;
    return nullptr;
}
} // namespace

class TestStatsPages : public StatsTestCase
{
    Q_OBJECT
    ResStatisticsParam* model = nullptr;
    StatisticsWidget* page = nullptr;

    QStringList names(int detections) const
    {
        QStringList n{messageText(584)};
        for (int d = 0; d < detections; ++d)
            n << QString::fromUtf8("检测 %1").arg(d + 1);
        return n;
    }
    void makePage(int w = 1280, int h = 800)
    {
        delete page;
        gShowW = w;
        gShowH = h;
        page = new StatisticsWidget;
        page->createWidget(names(2));
        page->connectModel(model);
    }
    CameraStatisticsWidget* panel(int cameraTab, int detectTab)
    {
        for (QTabWidget* tabs : {static_cast<QTabWidget*>(page->cameraTabs()),
                                 static_cast<QTabWidget*>(page->cameraTab(cameraTab))}) {
            const int i = tabs == page->cameraTabs() ? cameraTab : detectTab;
            if (tabs->currentIndex() != i)
                finger::tap(tabs->tabBar(), tabs->tabBar()->tabRect(i).center());
        }
        return page->cameraTab(cameraTab)->panel(detectTab);
    }
    void showPage()
    {
        page->show();
        flushWorker(model);
        QCoreApplication::processEvents();
    }
    // Clicks a row of the list of days and lets the worker load it.
    void pickDay(int row)
    {
        QListWidget* days = page->dayList();
        finger::tap(days->viewport(), days->visualItemRect(days->item(row)).center());
        flushWorker(model);
    }
    QStringList listedDays() const
    {
        QStringList l;
        for (int i = 0; i < page->dayList()->count(); ++i)
            l << page->dayList()->item(i)->text();
        return l;
    }
    // The operator confirms the export's start notice, which stays until then.
    void confirmStartNotice()
    {
        WarnBox* note = nullptr;
        for (WarnBox* b : page->findChildren<WarnBox*>())
            if (b->isVisible() && b->text() == messageText(732))
                note = b;
        QVERIFY(note);
        QVERIFY(finger::tap(note->okButton()));
    }
    // Three cycles of detection 0 in the day shift: camera 2 NG once.
    void countSomeCycles()
    {
        model->addRecord(0, 0, {true, true}, true);
        model->addRecord(0, 0, {true, false}, true);
        model->addRecord(0, 0, {true, true}, true);
    }

private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void init()
    {
        widgettest::resetShared(); // before the clock: it takes the clock down
        startEnv(at(2024, 5, 3, 10, 20));
        writeStatsConfig(at(2024, 5, 3, 8));
        QDir().mkpath("ResStatistics");
        model = ResStatisticsParam::getInstance();
        model->init("default", 2);
        makePage();
    }
    void cleanup()
    {
        delete page;
        page = nullptr;
        ResStatisticsParam::destroyInstance();
        stopEnv();
    }

    void tabsDaysAndGroups()
    {
        QCOMPARE(page->cameraTabs()->count(), 3);
        QCOMPARE(page->cameraTabs()->tabText(2), QString("Camera 2"));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(page->cameraTab(i)->count(), 3);
            QCOMPARE(page->cameraTab(i)->camera(), (i + 8) % 9);
            QCOMPARE(page->cameraTab(i)->panel(2)->detect(), 1);
        }
        QCOMPARE(page->cameraTab(0)->panel(0)->detect(), 8);
        CamereaTabWidget many(0, names(11));
        QCOMPARE(many.count(), 9);

        for (const char* day : {"2024-05-01.db", "2024-05-03.db"})
            QVERIFY(putStatsFile(QString("ResStatistics/") + day, dayDoc(QString(day).left(10), "other", 1)));
        showPage();
        QCOMPARE(listedDays(), QStringList({"2024-05-03", "2024-05-03", "2024-05-01"}));
        QCOMPARE(page->dayList()->currentRow(), 0);
        QCOMPARE(page->groupList()->currentText(), QString("default"));

        // An archive without the current group: no selection, zeros.
        pickDay(2);
        QCOMPARE(page->groupList()->currentText(), QString("other"));
        model->setParamGroup("absent");
        pickDay(0);
        QCOMPARE(page->groupList()->currentIndex(), -1);
        QCOMPARE(panel(0, 0)->value(0)->text(), QString("0"));

        // A newly archived day is listed once the worker has moved it.
        model->setParamGroup("default");
        clock->setNow(at(2024, 5, 4, 8, 0, 30));
        checkDateAndWait(model);
        QCOMPARE(listedDays().mid(0, 2), QStringList({"2024-05-04", "2024-05-03"}));
    }

    void valuesRatesAndBars()
    {
        countSomeCycles();
        clock->setNow(at(2024, 5, 3, 21, 5));
        model->addRecord(0, 0, {false, false}, true);
        clock->setNow(at(2024, 5, 3, 10, 20));
        showPage();
        CameraStatisticsWidget* p = panel(2, 1); // camera 2, detection 1
        QStringList values;
        for (int k = 0; k < 9; ++k)
            values << p->value(k)->text();
        QCOMPARE(values, QStringList({"3", "2", "66.67%", "1", "0", "0%", "4", "2", "50%"}));
        QCOMPARE(panel(1, 1)->value(2)->text(), QString("100%"));
        // Detection 2 never ran: no rate, never "nan%".
        QCOMPARE(panel(1, 2)->value(2)->text(), QString("--"));

        CameraStatisticsWidget* all = panel(0, 0);
        QCOMPARE(all->dayHistogram()->axisX(), QList<int>({8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
        QCOMPARE(all->nightHistogram()->axisX(), QList<int>({20, 21, 22, 23, 0, 1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(all->dayHistogram()->barCount(), 12);

        // The tallest bar (2 OK at 10 o'clock) reaches 40 px below the top;
        // a zero value sits just above the axis.
        Histogram* h = all->dayHistogram();
        const QImage img = h->grab().toImage();
        const int W = h->width(), H = h->height();
        const float step = float((W - 40) / 13);
        const int left = int(20 + 3 * step - step * 0.5f);
        QVERIFY(greenish(img.pixelColor(left + 2, 41)));
        QVERIFY(!greenish(img.pixelColor(left + 2, 38)));
        QVERIFY(greenish(img.pixelColor(left + 2, H - 22)));
        bool textAboveAxis = false;
        const int zeroLeft = int(20 + step - step * 0.5f);
        for (int y = H - 40; y < H - 20; ++y)
            for (int x = zeroLeft; x < zeroLeft + int(step * 0.5f); ++x)
                textAboveAxis |= img.pixelColor(x, y).value() < 100;
        QVERIFY(textAboveAxis);

        // Equal hours draw no bars.
        model->morningsStart = model->morningsEnd = 8;
        all->updateData();
        QCOMPARE(all->dayHistogram()->barCount(), 0);
        model->morningsEnd = 20;

        // A result refreshes the shown panel on today, not on an archive.
        model->addRecord(0, 0, {true, true}, true);
        QCOMPARE(all->value(0)->text(), QString("4"));
        // Damaged archives (newest first in the list) show zeros and stay as they are.
        QFile junk("ResStatistics/2024-05-04.db");
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("this is no database") > 0);
        junk.close();
        QFile("ResStatistics/2024-05-03.db").open(QIODevice::WriteOnly); // empty
        QVERIFY(putStatsFile("ResStatistics/2024-05-02.db", {}, {{"statisticsjson", {"[1, 2]", ""}}}));
        QJsonObject shortDoc = dayDoc("2024-05-01", "default", 0);
        QJsonObject g = shortDoc["groups"].toArray()[0].toObject();
        QJsonArray datas = g["datas"].toArray();
        QJsonObject cam = datas[2].toObject();
        cam["data"] = QJsonArray{detectDoc(-1, {}, {})}; // all cameras: the cycle record only, no slots
        datas[2] = cam;
        g["datas"] = datas;
        shortDoc["groups"] = QJsonArray{g};
        QVERIFY(putStatsFile("ResStatistics/2024-05-01.db", shortDoc));
        page->updateList();
        QCOMPARE(page->dayList()->count(), 5);
        for (int row = 1; row < 5; ++row) {
            pickDay(row);
            QCOMPARE(all->value(0)->text(), QString("0"));
            QCOMPARE(all->value(2)->text(), QString("--"));
        }
        QCOMPARE(fileBytes("ResStatistics/2024-05-04.db"), QByteArray("this is no database"));
        model->addRecord(0, 0, {true, true}, true);
        QCOMPARE(all->value(0)->text(), QString("0"));
    }

    void returnAsksOnlyForChangedHours()
    {
        showPage();
        QStringList seen;
        finger::tap(page->returnButton());
        QVERIFY(!page->isVisible());
        QCOMPARE(seen, QStringList());

        showPage();
        QVERIFY(finger::choose(page->hourList(0), 7));
        QVERIFY(finger::choose(page->hourList(3), 7));
        answerBox(false, &seen);
        finger::tap(page->returnButton());
        QCOMPARE(seen.size(), 1);
        QCOMPARE(model->morningsStart, 8);
        showPage();
        QCOMPARE(page->hourList(0)->currentIndex(), 8);

        QVERIFY(finger::choose(page->hourList(0), 7));
        QVERIFY(finger::choose(page->hourList(3), 7));
        answerBox(true, &seen);
        finger::tap(page->returnButton());
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1], messageText(234));
        // Survives a restart of the model.
        ResStatisticsParam::destroyInstance();
        model = ResStatisticsParam::getInstance();
        model->init("default", 2);
        QCOMPARE(model->morningsStart, 7);
        QCOMPARE(model->nightEnd, 7);
    }

    void dateRanges()
    {
        clock->setNow(at(2024, 3, 31, 9));
        DateSeletDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.rangeId(), 1);
        QCOMPARE(d.getDays(), qMakePair(QString("2024-03-31"), QString("2024-03-31")));
        const QList<QPair<int, QString>> starts = {{2, "2024-03-25"}, {3, "2024-03-01"}, {4, "2023-10-01"}, {5, "2023-04-01"}};
        for (const auto& s : starts) {
            finger::tap(d.rangeButtons()->button(s.first));
            QCOMPARE(d.getDays(), qMakePair(s.second, QString("2024-03-31")));
        }
        finger::tap(d.rangeButtons()->button(2));
        d.startEdit()->setDate(QDate(2024, 3, 20));
        QCOMPARE(d.rangeId(), 0);
        QVERIFY(d.rangeButtons()->button(0)->isChecked());
        QCOMPARE(d.getDays().first, QString("2024-03-20"));
        finger::tap(d.rangeButtons()->button(2));
        QCOMPARE(d.getDays().first, QString("2024-03-25"));
    }

    void exportFromThePage()
    {
        showPage();
        QStringList seen;
        // No drive: the question repeats until NO; nothing starts.
        answerBox(true, &seen);
        QTimer::singleShot(1500, [&seen] { answerBox(false, &seen); });
        finger::tap(page->exportButton());
        QCOMPARE(seen, QStringList({messageText(320), messageText(320)}));
        QVERIFY(page->exportIdle());

        // A drive, seven days, the real converter held until told to go.
        const QString drive = addDrive(*env, false);
        countSomeCycles();
        QVERIFY(putStatsFile("ResStatistics/2024-04-30.db", dayDoc("2024-04-30", "default", 1)));
        QVERIFY(putStatsFile("ResStatistics/2024-04-26.db", dayDoc("2024-04-26", "default", 1)));
        const QString real = ExportResultWorker::converterProgram();
        QVERIFY(QFile::rename(real, "converter.real"));
        fakeConverter("while [ ! -e go ]; do sleep 0.02; done\nexec ./converter.real \"$@\"\n");
        QSignalSpy progress(page, &StatisticsWidget::sigExportProgress);
        QSignalSpy finished(page, &StatisticsWidget::sigExportDataFinish);
        finger::answerBox(lastWeekThenOk);
        finger::tap(page->exportButton());
        QVERIFY(!page->exportIdle());
        QVERIFY(!model->dayTimer->isActive());
        QTRY_VERIFY(page->findChildren<WarnBox*>().size() == 1 && page->findChildren<WarnBox*>()[0]->isVisible());
        QCOMPARE(page->findChildren<WarnBox*>()[0]->text().simplified(), messageText(732));
        // The converter reads the day's file as it stands: the cycles counted
        // since the last minute's save are in it.
        const QJsonObject converted = docOf("ResStatistics.db");

        // Pressed again while it runs.
        answerBox(true, &seen);
        finger::tap(page->exportButton());
        QCOMPARE(seen.last(), messageText(654));

        answerBox(true, &seen);
        QFile("go").open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(docSum(converted, "default", -1, -1, "OK"), 2);
        QCOMPARE(docSum(converted, "default", -1, -1, "NG"), 1);
        confirmStartNotice();
        QTRY_COMPARE(seen.last(), messageText(147));
        QVERIFY(page->exportIdle());
        QVERIFY(model->dayTimer->isActive());
        QCOMPARE(progress.first(), QList<QVariant>({2, 0}));
        QCOMPARE(progress.last(), QList<QVariant>({2, 2}));
        const QStringList stamps = QDir(drive).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(stamps, QStringList({"2024-05-03_10.20.00"}));
        QCOMPARE(QDir(drive + "/" + stamps[0]).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList({"2024-04-30", "2024-05-03"}));

        // The drive pulled while the converter runs: the failure message,
        // not 147, and nothing converted stays to ride along with the next.
        fakeConverter("mkdir -p ResStatistics/d\nsed -i '/ \\/mnt /d' \"$STATION_SIMROOT/proc/mounts\"\necho Done\n");
        finger::answerBox(messageText(121));
        finger::tap(page->exportButton());
        answerBox(true, &seen);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        confirmStartNotice();
        QTRY_COMPARE(seen.last(), messageText(795));
        QVERIFY(page->exportIdle());
        QVERIFY(!QFileInfo::exists("ResStatistics/d"));

        // A day that cannot be read: the others go, the box names it. (A
        // minute on: the first export's stamp folder is never written into.)
        clock->setNow(at(2024, 5, 3, 10, 21));
        QFile::remove(real);
        QVERIFY(QFile::rename("converter.real", real));
        QVERIFY(env->writeWorkFile("ResStatistics/2024-05-01.db", QByteArray(3000, 'x')));
        finger::answerBox(lastWeekThenOk);
        finger::tap(page->exportButton());
        answerBox(true, &seen);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 20000);
        confirmStartNotice();
        QTRY_COMPARE(seen.last(), messageText(780).arg("2024-05-01"));
    }

    // The operator reads the start of an export first and its result last:
    // an export that ends while the start notice shows keeps its result
    // until the notice is confirmed; nothing covers the notice before that.
    void exportTellsItsStartBeforeItsResult()
    {
        addDrive(*env, false);
        showPage();
        QSignalSpy finished(page, &StatisticsWidget::sigExportDataFinish);
        QStringList results;
        finger::answerBox(lastWeekThenOk);
        finger::tap(page->exportButton());
        const QPointer<WarnBox> note = page->findChild<WarnBox*>();
        QVERIFY(note && note->isVisible() && note->text() == messageText(732));
        finger::answerBox([&results, note](QWidget* box) -> QAbstractButton* {
            auto* b = dynamic_cast<WarnBox*>(box);
            results << (b ? b->text() : QString()) + (note && note->isVisible() ? " (over the start notice)" : "");
            return b ? b->okButton() : nullptr;
        }, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QVERIFY2(results.isEmpty(), qPrintable(results.join(", ")));
        QVERIFY(finger::tap(note->okButton()));
        QTRY_COMPARE(results, QStringList{messageText(147)});
    }

    // A stick plugged in by hand as the README shows (udev data, the link
    // of its UUID, its medium) while the station runs, mounted by the drive
    // manager: the export finds it and writes to it, with no question about
    // a missing drive.
    void exportToAStickPluggedByHand()
    {
        DiskManager manager;
        QVERIFY(env->writeSimFile("/run/udev/data/b8:17", "S:disk/by-uuid/1234-ABCD\nE:ID_BUS=usb\nE:ID_FS_TYPE=vfat\n"));
        QVERIFY(QDir().mkpath(env->simRoot() + "/dev/disk/by-uuid") && QDir().mkpath(env->simRoot() + "/drives/sdb1"));
        QVERIFY(QFile::link("../../sdb1", env->simRoot() + "/dev/disk/by-uuid/1234-ABCD"));
        QVERIFY(manager.pollOnce());
        QCOMPARE(manager.getMountPath(), QStringList{"/mnt"});
        showPage();
        QStringList seen;
        QSignalSpy finished(page, &StatisticsWidget::sigExportDataFinish);
        finger::answerBox([&seen](QWidget* w) -> QAbstractButton* {
            if (auto* c = dynamic_cast<ChooseBox*>(w)) {
                seen << c->text();
                return c->noButton();
            }
            return lastWeekThenOk(w);
        });
        finger::tap(page->exportButton());
        QCOMPARE(seen, QStringList());
        answerBox(true, &seen);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        confirmStartNotice();
        QTRY_COMPARE(seen, QStringList{messageText(147)});
        QCOMPARE(QDir(env->simRoot() + "/drives/sdb1").entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{"2024-05-03_10.20.00"});
    }

    // An export of no day writes nothing and says so; Export DT touched while
    // its start notice is up shows that result before asking for the next,
    // and the next, which writes, says it succeeded.
    void exportOfNoDataSaysSoBeforeTheNextStarts()
    {
        const QString drive = addDrive(*env, false);
        showPage();
        QSignalSpy finished(page, &StatisticsWidget::sigExportDataFinish);
        finger::answerBox([](QWidget* w) -> QAbstractButton* { // the end a day before the start
            auto* d = qobject_cast<DateSeletDialog*>(w);
            const bool back = d && finger::tap(d->endEdit(), QPoint(8, d->endEdit()->height() / 2)); // its step back
            return back && d->getDays().second < d->getDays().first ? captioned(d, 121) : nullptr;
        });
        finger::tap(page->exportButton());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(QDir(drive).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QStringList seen;
        QTimer hand; // every result box OK, the dates the last week
        connect(&hand, &QTimer::timeout, [&seen] {
            QWidget* box = QApplication::activeModalWidget();
            auto* result = dynamic_cast<WarnBox*>(box);
            if (!box || !box->isVisible() || !(result || qobject_cast<DateSeletDialog*>(box)))
                return;
            seen << (result ? result->text() : "dates");
            finger::tap(result ? result->okButton() : lastWeekThenOk(box));
        });
        hand.start(20);
        QVERIFY(finger::tap(page->exportButton()));
        QCOMPARE(seen.join(" | "), messageText(912) + " | dates");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        confirmStartNotice();
        QTRY_COMPARE(seen.join(" | "), messageText(912) + " | dates | " + messageText(147));
        QCOMPARE(QDir(drive).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    }

    void renders()
    {
        const QString out = TestEnv::buildDir() + "/render";
        QDir().mkpath(out);
        countSomeCycles();
        clock->setNow(at(2024, 5, 3, 21, 5));
        model->addRecord(0, 0, {false, true}, true);
        model->addRecord(0, 0, {true, true}, true);
        QVERIFY(putStatsFile("ResStatistics/2024-05-01.db", dayDoc("2024-05-01", "default", 4)));
        QVERIFY(putStatsFile("ResStatistics/2024-05-02.db", dayDoc("2024-05-02", "other", 4)));
        for (const QSize size : {QSize(1024, 768), QSize(1280, 800)})
            for (int lan : {1, 0}) {
                gLan = lan;
                makePage(size.width(), size.height());
                const QString tag = QString("%1x%2_%3").arg(size.width()).arg(size.height()).arg(lan ? "en" : "zh");
                showPage();
                // The top row: nothing overlaps, nothing runs off the page.
                QList<QRect> top;
                for (QWidget* w : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                    if (w->isVisible() && w->y() < page->hourList(0)->geometry().bottom())
                        top << w->geometry();
                std::sort(top.begin(), top.end(), [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
                QCOMPARE(top.size(), 11);
                for (int i = 1; i < top.size(); ++i)
                    QVERIFY2(top[i - 1].right() < top[i].left(), qPrintable(tag + QString::number(i)));
                QVERIFY(top.last().right() < size.width() - 5);
                QVERIFY(page->cameraTabs()->geometry().bottom() < size.height());
                QVERIFY(page->grab().save(out + "/statspage_all_" + tag + ".png"));
                panel(1, 1);
                QVERIFY(page->grab().save(out + "/statspage_camera1_" + tag + ".png"));
                pickDay(2);
                QVERIFY(page->grab().save(out + "/statspage_archived_" + tag + ".png"));
                pickDay(1);
                page->groupList()->setCurrentIndex(-1);
                QVERIFY(page->grab().save(out + "/statspage_nogroup_" + tag + ".png"));
                page->hide();
                DateSeletDialog d;
                d.show();
                QVERIFY(d.width() <= size.width());
                QVERIFY(d.grab().save(out + "/statsdates_" + tag + ".png"));
            }
    }
};

QTEST_MAIN(TestStatsPages)
#include "tst_stats_pages.moc"
