// The station's boxes (question, warning, alarm, lost camera, clock, calibration
// choice) and its smaller widgets (combo boxes, framed dialogs, background
// wait, sliders, splash, export selection, address editor, shared pictures),
// driven as a person would, modal boxes answered from a timer.
#include "controller/controlport.h"
#include "controller/ui/redowizard.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "testsupport/finger.h"
#include "testsupport/modalanswer.h"
#include "testsupport/testenv.h"
#include "widgets/boxpaint.h"
#include "widgets/c_type_com.h"
#include "widgets/ccomp_dialogframe.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/ccomp_editcombobox.h"
#include "widgets/ccomp_labstatus.h"
#include "widgets/ccomp_moredialog.h"
#include "widgets/ccomp_simpmsgbox.h"
#include "widgets/checkbox.h"
#include "widgets/choosebox.h"
#include "settings/ui/wizardparawidget.h"
#include "widgets/choosecalinumwidget.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/dirinfo.h"
#include "widgets/edit.h"
#include "widgets/editip.h"
#include "widgets/networksettingdialog.h"
#include "widgets/shapedtext.h"

#include <QPainter>
#include "widgets/editdatetime.h"
#include "widgets/envprobe.h"
#include "widgets/exportdataselectdlg.h"
#include "widgets/floatslider.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/ipaddressedite.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/mulcheckbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/sharedpixmaps.h"
#include "widgets/slider.h"
#include "widgets/splashframe.h"
#include "widgets/splashframeinit.h"
#include "widgets/textshowwidget.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QMovie>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QThread>
#include <QTimeEdit>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTimer>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TstWidgetsBoxes : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnv> env;

private slots:
    void initTestCase() { QVERIFY(widgettest::initToolkit(1)); }
    void init()
    {
        env.reset(new TestEnv);
        QVERIFY(env->isValid());
        if (!QFileInfo::exists("images/background.png"))
            QVERIFY(copyTree(TestEnv::sourceDir() + "/resources/images", env->workDir() + "/images"));
        widgettest::resetShared();
    }
    void cleanup()
    {
        widgettest::resetShared();
        env.reset();
    }

    // The station's boxes (defined below the class).

    void colorButtonSizesByStyleAndLanguage();
    void chooseBoxGeometry();
    void warnBoxGeometryAndConfirm();
    void mainWindowBoxes();
    void boxesPaintWithoutBackgroundPicture();
    void modifyTimeSetsClockThroughCommands();
    void chooseCaliNumOffersPointCounts();
    void shapedTextPaintsAsThePainter();
    void shapedLineTakesTheColourItIsDrawnIn();
    void everyMessageFitsItsBox();

    // ---- combo boxes ----

    void comboBoxTouchReportsAndOpens()
    {
        QWidget host;
        host.resize(400, 300);
        auto* combo = new ComboBox(&host);
        combo->addItems({" 4 ", " 9 ", " 25 "});
        combo->setGeometry(10, 10, 200, 50);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(combo->focusPolicy(), Qt::NoFocus);
        QSignalSpy clicked(combo, &ComboBox::clicked);
        QTest::mousePress(combo, Qt::LeftButton, {}, QPoint(100, 25));
        QCOMPARE(clicked.count(), 1);
        QTRY_VERIFY(combo->view()->isVisible()); // the press still opens the popup
        combo->hidePopup();
    }

    void fuzzyComboFiltersAndRestoresTheSelection()
    {
        FuzzyComboBox combo;
        combo.setStringList({"Alpha", "Mould_A", "Beta", "mould_b", "Gamma"});
        combo.setFilterFixedString("MOULD"); // case-insensitive, anywhere in the name
        QCOMPARE(combo.count(), 2);
        QCOMPARE(combo.itemText(1), QString("mould_b"));
        combo.setFilterFixedString(QString());
        QCOMPARE(combo.count(), 5);

        // A filter that matches something leaves the selection to the owner.
        combo.setCurrentIndex(4);
        combo.setFilterFixedString("a");
        combo.checkFilterResult(4);
        QCOMPARE(combo.count(), 4); // every name but "mould_b"
        QCOMPARE(combo.currentText(), QString("Gamma"));

        // The owner's sequence: remember, block, filter, check, unblock. Under
        // "ould" row 1 is "mould_b"; when the next letter matches nothing the
        // full list comes back on "mould_b", not on row 1 of the full list.
        combo.setFilterFixedString("ould");
        combo.setCurrentIndex(1);
        {
            const int remembered = combo.currentIndex();
            const QSignalBlocker block(&combo);
            combo.setFilterFixedString("ouldx");
            combo.checkFilterResult(remembered);
        }
        QCOMPARE(combo.count(), 5);
        QCOMPARE(combo.currentText(), QString("mould_b"));

        // Rows that do not exist, empty lists.
        combo.setFilterFixedString("zz");
        combo.checkFilterResult(99);
        QCOMPARE(combo.count(), 5);
        QCOMPARE(combo.currentIndex(), 0);
        FuzzyComboBox empty;
        empty.setFilterFixedString("x");
        empty.checkFilterResult(3);
        QCOMPARE(empty.currentIndex(), -1);
    }

    // ---- framed dialogs ----

    void dialogFrameOkOnPressAndTitleWidgets()
    {
        CComp_DialogFrame dlg("Network");
        auto* a = new QLabel("A");
        auto* b = new QLabel("B");
        dlg.addTitleWgt(a);
        dlg.addTitleWgt(b);
        dlg.addTitleWgt(nullptr);
        QHBoxLayout* bar = dlg.titleLayout(); // in order, before OK; the null one skipped
        QCOMPARE(bar->count(), 5);
        QVERIFY(bar->itemAt(2)->widget() == a && bar->itemAt(3)->widget() == b);

        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // dragging the title bar does not move the frame
        const QPoint before = dlg.pos();
        sendMouse(&dlg, QEvent::MouseButtonPress, QPoint(300, 30));
        sendMouse(&dlg, QEvent::MouseMove, QPoint(500, 200));
        sendMouse(&dlg, QEvent::MouseButtonRelease, QPoint(500, 200), Qt::NoButton);
        QCOMPARE(dlg.pos(), before);

        QSignalSpy accepted(&dlg, &QDialog::accepted);
        QTest::mousePress(dlg.okButton(), Qt::LeftButton); // the press alone is enough
        QCOMPARE(accepted.count(), 1);
        QTest::mouseRelease(dlg.okButton(), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
    }

    void styleFunctionsKeepWhatTheyDoNotKnow()
    {
        // A delegate the caller gave is kept; a missing target changes nothing.
        ComboBox c;
        QStyledItemDelegate* d = new QStyledItemDelegate(&c);
        CComp_DialogFrame::setStyleCombobox(&c, d, "X{}");
        QCOMPARE(c.itemDelegate(), static_cast<QAbstractItemDelegate*>(d));
        QVERIFY(c.styleSheet().endsWith("X{}")); // the caller's extra comes last
        CComp_DialogFrame::setDefaultWgt(nullptr);
        C_Type_COM::setTxtQss(nullptr, 2);
        // An unknown theme leaves the caller's sheet alone.
        QLineEdit e;
        e.setStyleSheet("keep{}");
        C_Type_COM::setTxtQss(&e, 7);
        QProgressBar p;
        p.setStyleSheet("keep{}");
        C_Type_COM::setBarQss(&p, 1);
        QVERIFY(e.styleSheet() == "keep{}" && p.styleSheet() == "keep{}");
        // A themed button never takes the focus from the field being typed into.
        QPushButton b;
        b.setFocusPolicy(Qt::StrongFocus);
        C_Type_COM::setBtnQss(&b, C_Type_COM::C_Black);
        QCOMPARE(b.focusPolicy(), Qt::NoFocus);
    }

    void textShowWidgetSignalsBeforeHiding()
    {
        TextShowWidget panel;
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        bool visibleAtSignal = false;
        connect(&panel, &TextShowWidget::sigHideWidget, this, [&]() { visibleAtSignal = panel.isVisible(); });
        QTest::mouseClick(panel.closeButton(), Qt::LeftButton);
        QVERIFY(visibleAtSignal);
        QVERIFY(!panel.isVisible());
    }

    void unusedFamilyMembersBehave()
    {
        CComp_LabStatus lamp;
        lamp.setStatus(CComp_LabStatus::ST_ERROR); // the busy spinner stops
        QVERIFY(lamp.movie() == nullptr || lamp.movie()->state() != QMovie::Running);

        CComp_MoreDialog more("Choose");
        more.addBtn("First");
        more.addBtn("Second");
        QSignalSpy clicks(&more, &CComp_MoreDialog::sigClick);
        const auto buttons = more.findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 2);
        buttons[1]->click();
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.at(0).at(0).toString(), QString("Second"));
        QCOMPARE(more.result(), int(QDialog::Accepted));

        CComp_SimpMsgBox box("Delete?");
        QPushButton* fork = nullptr;
        for (QPushButton* b : box.findChildren<QPushButton*>())
            if (b->text().isEmpty())
                fork = b;
        QVERIFY(fork);
        fork->click();
        QCOMPARE(box.result(), -1);

        CComp_EditComboBox edit;
        QSignalSpy touched(&edit, &CComp_EditComboBox::click);
        edit.resize(200, 44);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QVERIFY(edit.eventFilter(&edit, &enter)); // swallowed
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        edit.eventFilter(&edit, &press);
        QCOMPARE(touched.count(), 1);

        MulCheckbox multi;
        multi.addChkItem("A", true);
        multi.addChkItem("B", false);
        QCOMPARE(multi.count(), 2);
        auto* second = qobject_cast<QCheckBox*>(multi.listWidget()->itemWidget(multi.listWidget()->item(1)));
        QVERIFY(second && !second->isChecked());
    }

    // ---- background wait ----

    void backgroundWaitRunsItsJobAndAlwaysCloses()
    {
        QThread* jobThread = nullptr;
        bool ran = false;
        {
            CComp_DiaWait wait([&]() {
                jobThread = QThread::currentThread();
                QThread::msleep(200); // the job's own work, not a timed rule
                ran = true;
            });
            QTimer::singleShot(5000, &wait, &QDialog::reject); // never hang the test
            QCOMPARE(wait.exec(), int(QDialog::Accepted));
        }
        QVERIFY(ran); // exec() returned after the job, not before
        QVERIFY(jobThread != nullptr && jobThread != qApp->thread());

        // No job, and a job that fails: the spinner closes all the same.
        for (const std::function<void()>& job : {std::function<void()>{}, std::function<void()>([]() {
                                                     throw std::runtime_error("card script missing");
                                                 })}) {
            CComp_DiaWait wait(job);
            QTimer::singleShot(3000, &wait, &QDialog::reject);
            QCOMPARE(wait.exec(), int(QDialog::Accepted));
        }
        // The job ends before exec() starts: the spinner must still close
        // instead of waiting for ever.
        CComp_DiaWait wait([]() {});
        QTRY_VERIFY(wait.jobFinished());
        QTimer::singleShot(3000, &wait, &QDialog::reject);
        QElapsedTimer t;
        t.start();
        QCOMPARE(wait.exec(), int(QDialog::Accepted));
        QVERIFY(t.elapsed() < 2000);
    }

    // ---- slider ----

    void sliderValueRulesFillAndDrag()
    {
        QWidget host;
        host.resize(1200, 400);
        Slider s(0, 100, 5, 0, &host, "Gain");
        s.setGeometry(50, 100, 1000, 60);
        Slider d(0, 10, 1, 0, &host, "Speed");
        d.setGeometry(0, 200, 1000, 60);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QVERIFY(s.fillLength() > 500);
        QCOMPARE(s.fillWidth(), 0);
        const int x0 = s.handleRect().x();
        s.setValue(100); // the handle rides on the end of the fill
        QCOMPARE(s.handleRect().x(), x0 + s.fillLength());
        s.setValue(33);
        QCOMPARE(s.fillWidth(), int(float(33) / float(100) * float(s.fillLength())));

        // the caption band is 120 pixels: a short caption keeps 30 px, a long
        // one is drawn smaller so that it is not cut off
        QCOMPARE(s.captionPixelSize(), 30);
        s.Reset(0, 100, 5, 0, "Exposure time");
        QVERIFY(s.captionPixelSize() < 30);
        QVERIFY(QFontMetrics(boxpaint::houseFont(s.captionPixelSize())).horizontalAdvance("Exposure time") <= 120);

        // an initial value outside the range is clamped
        Slider wide(0, 10, 1, 25, &host, "Speed");
        QCOMPARE(wide.value(), 10);
        // the buttons step one unit, whatever the page step, and stop at the ends
        Slider b(0, 10, 3, 9, &host, "Sharp");
        QVERIFY(b.addButton()->autoRepeat()); // held down, it keeps stepping
        b.addButton()->click();
        b.addButton()->click();
        QCOMPARE(b.value(), 10);
        b.subButton()->click();
        QCOMPARE(b.value(), 9);
        b.Reset(5, 20, 2, 1, "Contrast");
        QCOMPARE(b.value(), 5);
        b.Sub();
        QCOMPARE(b.value(), 5);

        // typed text: empty keeps the value, too many digits give the maximum,
        // not a number gives the minimum
        Slider t(10, 999999, 1, 500, &host, "Area");
        const QPair<const char*, int> typed[] = {{"", 500}, {"2000", 2000}, {"12345678901234567890", 999999},
                                                 {"3000000000", 999999}, {"abc", 10}, {"-5", 10}};
        for (const auto& c : typed) {
            t.SetText(c.first);
            QVERIFY2(t.value() == c.second, c.first);
        }

        // Dragging: only from the handle, in whole units, clamped at the end.
        const int hx = d.handleRect().x(); // 333
        QSignalSpy changed(&d, &QAbstractSlider::valueChanged);

        sendMouse(&d, QEvent::MouseButtonPress, QPoint(hx - 25, 30));
        QVERIFY(!d.dragging());
        sendMouse(&d, QEvent::MouseMove, QPoint(hx + 200, 30));
        QCOMPARE(d.value(), 0);
        sendMouse(&d, QEvent::MouseButtonRelease, QPoint(hx + 200, 30), Qt::NoButton);

        sendMouse(&d, QEvent::MouseButtonPress, QPoint(hx - 15, 30));
        QVERIFY(d.dragging());
        // one unit is worth 56.2 pixels: five moves of 10 pixels change nothing...
        for (int i = 1; i <= 5; ++i)
            sendMouse(&d, QEvent::MouseMove, QPoint(hx - 15 + 10 * i, 30));
        QCOMPARE(d.value(), 0);
        QCOMPARE(changed.count(), 0);
        // ...but they add up: the sixth reaches 60 pixels from the anchor
        sendMouse(&d, QEvent::MouseMove, QPoint(hx - 15 + 60, 30));
        QCOMPARE(d.value(), 1);
        // a long pull is clamped at the maximum
        sendMouse(&d, QEvent::MouseMove, QPoint(hx + 2000, 30));
        QCOMPARE(d.value(), 10);
        sendMouse(&d, QEvent::MouseButtonRelease, QPoint(hx + 2000, 30), Qt::NoButton);
        QVERIFY(!d.dragging());
        sendMouse(&d, QEvent::MouseMove, QPoint(0, 30)); // no drag after release
        QCOMPARE(d.value(), 10);
    }

    void sliderKeypadEntry()
    {
        widgettest::remakePads();
        QWidget host;
        host.resize(1280, 800);
        Slider s(0, 255, 1, 120, &host, "Expo");
        s.setGeometry(50, 100, 1000, 60);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        widgettest::touch(&s, QPoint(215, 30));
        QVERIFY(!gpNumPad->isVisible());

        widgettest::touch(&s, QPoint(214, 30));
        QVERIFY(gpNumPad->isVisible());
        QCOMPARE(gpNumPad->parentWidget(), &host);
        QCOMPARE(gpNumPad->pos(), QPoint(50, 165)); // 65 pixels below the slider
        QCOMPARE(Edit::current(), s.valueField());
        // opening the pad empties the field but leaves the value alone
        QCOMPARE(s.value(), 120);

        widgettest::typeOnPad("4");
        QCOMPARE(s.value(), 4);
        widgettest::typeOnPad("2");
        QCOMPARE(s.value(), 42);
        widgettest::typeOnPad("7"); // 427 is beyond the range
        QCOMPARE(s.value(), 255);
    }

    void sliderBadRangesAndSizes()
    {
        QWidget host;
        Slider s(5, 5, 1, 5, &host, "Flat");
        s.resize(300, 60); // narrower than the fixed parts: no track at all
        QCOMPARE(s.fillWidth(), 0);
        const QImage img = s.grab().toImage();
        QVERIFY(!img.isNull());
        sendMouse(&s, QEvent::MouseButtonPress, s.handleRect().topLeft() + QPoint(2, 2));
        sendMouse(&s, QEvent::MouseMove, QPoint(290, 30));
        sendMouse(&s, QEvent::MouseButtonRelease, QPoint(290, 30), Qt::NoButton);
        QCOMPARE(s.value(), 5);
        s.Reset(100, 0, 1, 50, "Upside"); // minimum above maximum: Qt keeps one consistent
        QVERIFY(s.minimum() <= s.maximum());
        (void)s.grab();
    }

    // ---- float slider ----

    void floatSliderValueResetAndButton()
    {
        FloatSlider fs;
        fs.resize(400, 40);
        fs.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fs));
        fs.setFactor(100);
        fs.setRange(100, 500);
        QSignalSpy updates(&fs, &FloatSlider::updateValue);

        fs.setValue(2.345f);
        QCOMPARE(fs.slider()->value(), 234); // single-precision truncation
        QCOMPARE(fs.label()->text(), QString("2.35"));
        QCOMPARE(fs.value(), 2.345f);
        QCOMPARE(updates.count(), 1); // the position changed: updateLabel ran first
        QVERIFY(fs.resetTimer()->isActive()); // a touch starts the way back to the minimum

        updates.clear();
        fs.slider()->setValue(250);
        QCOMPARE(updates.count(), 1);
        QCOMPARE(updates.at(0).at(0).toFloat(), 2.5f);
        QCOMPARE(fs.label()->text(), QString("2.50"));

        // the reset timer brings the minimum back; run it short instead of 30 s
        updates.clear();
        fs.resetTimer()->start(10);
        QTRY_COMPARE(updates.count(), 1);
        QCOMPARE(updates.at(0).at(0).toFloat(), 1.0f);
        QCOMPARE(fs.value(), 1.0f);
        QCOMPARE(fs.label()->text(), QString("1.00"));
        QCOMPARE(fs.slider()->value(), 100);

        // bad input: a factor that is no factor is refused, a value that is
        // no number changes nothing, a huge one stops at the end
        for (float bad : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()})
            fs.setFactor(bad);
        QCOMPARE(fs.factor(), 100.0f);
        fs.setValue(3.0f);
        fs.setValue(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(fs.value(), 3.0f);
        fs.setValue(1e30f); // far beyond the range: the slider stops at its end
        QCOMPARE(fs.slider()->value(), 500);
        fs.setValue(-1e30f);
        QCOMPARE(fs.slider()->value(), 100);

        // The button hides and shows the slider, its icon telling which.
        QVERIFY(!fs.button()->icon().isNull());
        const qint64 hideKey = fs.button()->icon().cacheKey();
        QVERIFY(fs.slider()->isVisible());
        fs.button()->click();
        QVERIFY(!fs.slider()->isVisible());
        QVERIFY(fs.button()->icon().cacheKey() != hideKey);
        fs.button()->click();
        QVERIFY(fs.slider()->isVisible());
    }

    // ---- splash ----

    void splashStepsAndTexts()
    {
        SplashFrame splash;
        QVERIFY(splash.findChild<QDialog*>("progressdialog")->isVisible());
        splash.flushstep(-5, QString());
        QCOMPARE(splash.currentStep(), 0);
        QCOMPARE(splash.statusText(), QString::fromUtf8("程序加载中.."));

        for (int st : {6, 42, 60}) {
            splash.flushstep(st, QString::fromUtf8("等待相机开启..."));
            QCOMPARE(splash.currentStep(), st);
            QCOMPARE(splash.barValue(), st);
        }
        splash.flushstep(50, QString()); // never goes back
        QCOMPARE(splash.currentStep(), 60);
        QCOMPARE(splash.statusText(), QString::fromUtf8("等待相机开启..."));
        splash.flushstep(90, "Load other plugins");
        QCOMPARE(splash.statusText(), QString("Load other plugins"));

        splash.flushstep(150, "complete");
        QCOMPARE(splash.currentStep(), 100);
        QVERIFY(!splash.progressOpen());
        QVERIFY(!splash.findChild<QProgressBar*>("progressbar"));
        QVERIFY(!splash.findChild<QLabel*>("loadlabel"));
        splash.flushstep(20, "late"); // nothing left to change
        QCOMPARE(splash.currentStep(), 100);
        QCOMPARE(splash.barValue(), -1);
    }

    void splashInitClampsAndNeverGoesBack()
    {
        SplashFrameInit s;
        s.flushstep(40);
        s.flushstep(10);
        QCOMPARE(s.currentValue(), 40);
        s.flushstep_plus(70);
        QCOMPARE(s.currentValue(), 100);
    }

    void envProbe()
    {
        // Each value is probed as the station sees it; the test's own comes back.
        auto probe = [](const char* var, const char* value, bool (*f)()) {
            const QByteArray old = qgetenv(var);
            value ? qputenv(var, value) : qunsetenv(var);
            const bool r = f();
            old.isNull() ? qunsetenv(var) : qputenv(var, old);
            return r;
        };
        const char* qpa = "QT_QPA_PLATFORM_PLUGIN_PATH";
        QVERIFY(probe(qpa, "/opt/Qt5.15.7/plugins/platforms", isOpen_Env));
        QVERIFY(CommandRunner::loggedCommands().contains("echo $QT_QPA_PLATFORM_PLUGIN_PATH"));
        // a trailing slash, another case, none at all
        for (const char* other : std::initializer_list<const char*>{"/opt/Qt5.15.7/plugins/platforms/",
                                                                    "/OPT/Qt5.15.7/plugins/platforms", nullptr})
            QVERIFY(!probe(qpa, other, isOpen_Env));
        QVERIFY(probe("XDG_SESSION_TYPE", "x11", isDesktop_Platform));
        QVERIFY(!probe("XDG_SESSION_TYPE", "wayland", isDesktop_Platform));
    }

    // ---- export selection ----

    void exportSelectionResults()
    {
        const QStringList items{"Records", "Statistics", "NG images", "OK images", "Logs"};
        ExportDataSelectDlg dlg(items, "All data");
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const auto& boxes = dlg.itemBoxes();
        auto touch = [](QCheckBox* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, b->height() / 2)); };
        QCOMPARE(boxes.size(), 5);
        QSignalSpy finished(&dlg, &QDialog::finished);
        // Nothing ticked: a warning, and the selection stays open.
        QString warned;
        answerModal([&](QWidget* w) {
            if (auto* box = dynamic_cast<WarnBox*>(w)) {
                warned = box->text();
                box->okButton()->click();
            }
        });
        QTest::mouseClick(dlg.exportButton(), Qt::LeftButton);
        QCOMPARE(warned, QString::fromUtf8("未选择要导出的文件，请重新选择"));
        QCOMPARE(finished.count(), 0);
        QVERIFY(dlg.isVisible());

        for (CheckBox* b : boxes)
            touch(b);
        QCOMPARE(dlg.selectAllBox()->checkState(), Qt::Checked);
        QCOMPARE(dlg.getResult(), QStringList{"All data"});
        touch(boxes[0]);
        touch(boxes[2]);
        touch(boxes[4]);
        QCOMPARE(dlg.selectAllBox()->checkState(), Qt::PartiallyChecked);
        QCOMPARE(dlg.getResult(), (QStringList{"Statistics", "OK images"}));

        // select-all from partial ticks everything, a second touch clears everything
        touch(dlg.selectAllBox());
        QCOMPARE(dlg.selectAllBox()->checkState(), Qt::Checked);
        for (CheckBox* b : boxes)
            QVERIFY(b->isChecked());
        touch(dlg.selectAllBox());
        QCOMPARE(dlg.selectAllBox()->checkState(), Qt::Unchecked);
        for (CheckBox* b : boxes)
            QVERIFY(!b->isChecked());
        QCOMPARE(dlg.getResult(), QStringList());

        // Without items: select-all alone stands for everything.
        ExportDataSelectDlg none({}, "All data");
        none.show();
        QVERIFY(QTest::qWaitForWindowExposed(&none));
        QCOMPARE(none.getResult(), QStringList()); // nothing is not everything
        touch(none.selectAllBox());
        QCOMPARE(none.getResult(), QStringList{"All data"});
        QTest::mouseClick(none.exitButton(), Qt::LeftButton);
        QCOMPARE(none.result(), int(QDialog::Rejected));
    }

    void ipAddressEditor()
    {
        IPAddressEdite ip;
        QSignalSpy changes(&ip, &IPAddressEdite::sigChangeStr);
        QCOMPARE(ip.getAddress(), QString("0.0.0.0"));
        ip.setAddress("192.168.1.20");
        QCOMPARE(ip.getAddress(), QString("192.168.1.20"));
        QVERIFY(changes.count() >= 4);
        QCOMPARE(changes.last().at(0).toString(), QString("192.168.1.20"));
        ip.setAddress("10.0.1"); // three parts: all zero
        QCOMPARE(ip.getAddress(), QString("0.0.0.0"));
        ip.setAddress(".10..0.1.2."); // empty parts are dropped before counting
        QCOMPARE(ip.getAddress(), QString("10.0.1.2"));
        for (int i = 0; i < 4; ++i)
            ip.field(i)->clear();
        ip.field(0)->setText("1");
        QCOMPARE(ip.getAddress(), QString("1.0.0.0"));
        ip.field(2)->setText("7");
        QCOMPARE(ip.getAddress(), QString("1.0.7.0"));
        ip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ip));
        ip.activateWindow();
        ip.field(0)->setFocus();
        QTRY_VERIFY(ip.field(0)->hasFocus());
        QTest::keyClick(ip.field(0), Qt::Key_Period, Qt::NoModifier); // "." moves on
        QTRY_VERIFY(ip.field(1)->hasFocus());
        QCOMPARE(ip.field(0)->text(), QString("1")); // the validator refused the dot
        ip.setReadOnly(true);
        QVERIFY(ip.field(3)->isReadOnly());
        QCOMPARE(ip.field(4), static_cast<QLineEdit*>(nullptr));
    }

    // ---- shared pictures and listings ----

    void sharedPixmapsLoad()
    {
        SharedPixmaps::load("./images/");
        QCOMPARE(SharedPixmaps::missingCount(), 0);
        // index = the output bit: entry 0 is "OUT0.png" (a dark lamp), entry 1
        // "OUT1.png" (a lit, green one)
        const QImage off = gpPixmapOUT[0]->toImage();
        const QImage on = gpPixmapOUT[1]->toImage();
        QCOMPARE(off, QImage("./images/OUT0.png").convertToFormat(off.format()));
        QCOMPARE(on, QImage("./images/OUT1.png").convertToFormat(on.format()));
        const QColor cOn = on.pixelColor(on.width() / 2 + 10, on.height() / 2 + 10); // below the highlight
        QVERIFY(cOn.green() > cOn.red() + 60);
        QVERIFY(cOn.lightness() > off.pixelColor(off.width() / 2 + 10, off.height() / 2 + 10).lightness() + 40);
        // The logo of the side bar: 240 x 96 over a transparent face.
        const QImage logo("./images/logo2.png");
        QCOMPARE(logo.size(), QSize(240, 96));
        QVERIFY(logo.hasAlphaChannel());
        QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);

        QPixmap* const bg = gpPixmapBG;
        SharedPixmaps::load(env->workDir() + "/nowhere"); // missing files: null pictures, same objects
        QCOMPARE(gpPixmapBG, bg);
        QVERIFY(gpPixmapBG->isNull());
        QCOMPARE(SharedPixmaps::missingCount(), 9);
        SharedPixmaps::load(env->workDir() + "/images"); // without the trailing "/"
        QCOMPARE(SharedPixmaps::missingCount(), 0);
    }

    void directoryListings()
    {
        QVERIFY(QDir().mkpath("list/a"));
        QVERIFY(QDir().mkpath("list/b c"));
        QVERIFY(QDir().mkpath("list/it's"));
        QVERIFY(env->writeWorkFile("list/a/one.txt", "1"));
        QVERIFY(env->writeWorkFile("list/top.txt", "2"));
        QCOMPARE(getProDirInfo("list"), QString("a;b c;it's;"));
        QCOMPARE(getProDirInfo("list/$(touch injected)"), QString());
        QVERIFY(!QFileInfo::exists("injected"));

        const QJsonObject obj = QJsonDocument::fromJson(getStrDirInfo("list").toUtf8()).object();
        QVERIFY(obj.value(".").toString().contains("top.txt"));
        QVERIFY(obj.value("./a").toString().contains("one.txt"));
        QCOMPARE(getStrDirInfo("does-not-exist"), QString());
    }
};

// ---- the station's boxes ----

void TstWidgetsBoxes::colorButtonSizesByStyleAndLanguage()
{
    struct Case {
        int style, lan, px;
    };
    const Case cases[] = {{3, 0, 27}, {4, 2, 30}, {7, 1, 25}};
    for (const Case& c : cases) {
        gLan = c.lan;
        ColorButton b(QStringLiteral("x"), nullptr, c.style);
        // The sheet takes effect: the polished font has the pixel size, in
        // the house family like the texts of the boxes.
        b.ensurePolished();
        QVERIFY2(b.font().pixelSize() == c.px && b.fontPixelSize() == c.px,
                 qPrintable(QStringLiteral("style %1 lan %2").arg(c.style).arg(c.lan)));
        QCOMPARE(QFontInfo(b.font()).family(), QFontInfo(boxpaint::houseFont(c.px)).family());
    }
}

// (Its YES and NO are the statistics page's return question, answered both ways.)
void TstWidgetsBoxes::chooseBoxGeometry()
{
    ChooseBox box(nullptr, 750, 370);
    QCOMPARE(box.geometry(), QRect(1280 / 2 - 375, 800 / 2 - 185, 750, 370));
    QVERIFY(!box.isVisible());
}

void TstWidgetsBoxes::warnBoxGeometryAndConfirm()
{
    WarnBox box(nullptr);
    QCOMPARE(box.geometry(), QRect(265, 215, 750, 370));
    box.setText(QStringLiteral("Camera lost"));

    // A changed screen is followed when the box shows.
    gShowW = 1024;
    gShowH = 768;
    answerModal([](QWidget* w) { QVERIFY(clickButtonWithText(w, QStringLiteral("Confirm"))); });
    QCOMPARE(box.exec(), int(QDialog::Accepted));
    QCOMPARE(box.geometry(), QRect(512 - 375, 384 - 185, 750, 370));
}

// The boxes the main window owns, on one window: the warning wakes a dark
// screen, the production alarm clears its outputs and the count, the lost
// camera box takes its pauses before the power-off (last: it closes the
// databases; its record and the power-off are the I/O page test's).
void TstWidgetsBoxes::mainWindowBoxes()
{
    QVERIFY2(QFile::exists(QStringLiteral("PARAM.db")), "factory working directory missing");
    auto* win = new ReDoWizard(nullptr);
    win->show();
    QTimer timer;
    win->screenOffTimer = &timer;
    // screen off time-out, screen off before, timer running after: a dark
    // screen comes back on, its timer restarts unless the time-out is 0
    const int cases[][3] = {{60, 0, 0}, {60, 1, 1}, {0, 1, 0}};
    for (const auto& c : cases) {
        gpWPara->scrOffTime = c[0];
        win->screenOff = c[1];
        timer.stop();
        gpWarnBox->show();
        QCOMPARE(win->screenOff, 0);
        QCOMPARE(timer.isActive(), c[2] == 1);
        if (c[2])
            QCOMPARE(timer.interval(), 60000);
        gpWarnBox->hide();
    }
    win->screenOffTimer = nullptr;

    // Over an open settings window the boxes show on top, where a finger finds them.
    win->settingsWindow->show();
    win->settingsWindow->raise();
    const auto onTop = [](QWidget* button) {
        return QApplication::widgetAt(button->mapToGlobal(button->rect().center())) == button;
    };
    gpWarnBox->show();
    QVERIFY(onTop(gpWarnBox->okButton()));
    gpWarnBox->hide();
    win->settingsWindow->raise();
    gpChooseBox->show();
    QVERIFY(onTop(gpChooseBox->yesButton()));
    gpChooseBox->hide();
    win->settingsWindow->hide();

    // Plain outputs: no inversion, no sound switch, no mirrored output.
    gpWPara->noAlarmSound = 0;
    gpWPara->out4Use = 0;
    for (int i = 0; i < 3; ++i)
        gpWPara->outInitState[i] = 0;
    ControlPort port;
    gpControlIO = &port;
    for (int bit : {0, 2, 1})
        port.IOSetOut(bit, 1);
    port.IOFlashOut();
    win->productCount = 500;
    win->productAlarm = 1;
    QCOMPARE(gpProductAlarmWarnBox->text(), gaLanStr[4 * 720 + gLan]);
    gpProductAlarmWarnBox->show();
    QCOMPARE(gpProductAlarmWarnBox->okButton()->text(), gaLanStr[4 * 121 + gLan]);
    QVERIFY(finger::tap(gpProductAlarmWarnBox->okButton()));
    QVERIFY(!gpProductAlarmWarnBox->isVisible());
    QCOMPARE(port.IOState(1, 0), 0);
    QCOMPARE(port.IOState(1, 2), 0);
    QCOMPARE(port.IOState(1, 1), 1); // others untouched
    QCOMPARE(gDataOut, port.out);    // published in one step for the next board frame
    QCOMPARE(win->productCount, 0);
    QCOMPARE(win->productAlarm, 0);
    gpControlIO = nullptr; // the window frees the board port it owns; this one is ours

    QVERIFY(!gpLostCameraWarnBox->parentWidget()); // a window of its own
    QCOMPARE(gpLostCameraWarnBox->text(), gaLanStr[4 * 657 + gLan]);
    const QString shutDown = gaLanStr[4 * 209 + gLan];
    QCOMPARE(gpLostCameraWarnBox->okButton()->text(), shutDown);
    TestClock clock;
    Clock::install(&clock);
    // Shut Down takes a touch only a moment after the box shows, and again
    // after a window over it closed (the touch that closed it may go on).
    QList<bool> greyed;
    finger::answerBox([&](QWidget*) {
        QAbstractButton* ok = gpLostCameraWarnBox->okButton();
        greyed << !ok->isEnabled();
        clock.advance(LostCameraWarnBox::kSettleMs);
        greyed << !ok->isEnabled();
        gpWarnBox->show();
        gpWarnBox->hide();
        // The hold is taken as the window's hiding reaches the box: every
        // event it posted is delivered before the clock moves on.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        greyed << !ok->isEnabled();
        clock.advance(LostCameraWarnBox::kSettleMs);
        return ok;
    });
    const qint64 t0 = clock.monotonicMs();
    gpLostCameraWarnBox->exec();
    Clock::install(nullptr);
    QCOMPARE(greyed, (QList<bool>{true, false, true}));
    // Two settling moments, the watchdog stop, the databases' settling, the pause.
    QCOMPARE(clock.monotonicMs() - t0, 3500 + LostCameraWarnBox::kSettleMs);
    delete win;
    QVERIFY(!gpWarnBox); // died with the window, global cleared
}

void TstWidgetsBoxes::boxesPaintWithoutBackgroundPicture()
{
    QPixmap* saved = gpPixmapBG;
    QPixmap empty;
    for (QPixmap* bg : {static_cast<QPixmap*>(nullptr), &empty}) {
        gpPixmapBG = bg;
        WarnBox w(nullptr);
        w.setText(QStringLiteral("text"));
        const QImage img = w.grab().toImage();
        // Plain face inside, white frame at the edge.
        QCOMPARE(QColor(img.pixel(2, 100)), QColor(Qt::white));
        QVERIFY(QColor(img.pixel(40, 330)) != QColor(Qt::white));
        ChooseBox c(nullptr, 750, 370);
        QVERIFY(!c.grab().isNull());
    }
    // With a picture it is stretched over the box.
    QPixmap green(10, 10);
    green.fill(Qt::green);
    gpPixmapBG = &green;
    WarnBox w(nullptr);
    const QImage img = w.grab().toImage();
    QCOMPARE(QColor(img.pixel(40, 330)), QColor(Qt::green));
    QCOMPARE(QColor(img.pixel(700, 20)), QColor(Qt::green));
    gpPixmapBG = saved;
}

void TstWidgetsBoxes::modifyTimeSetsClockThroughCommands()
{
    ModifyTimeWidget w(nullptr);

    const QDateTime before = QDateTime::currentDateTime();
    w.editor()->ShowDateTime();
    QVERIFY(qAbs(QDateTime(w.editor()->dateEdit()->date(), w.editor()->timeEdit()->time()).secsTo(before)) <= 2);

    w.editor()->dateEdit()->setDate(QDate(2027, 3, 4));
    w.editor()->timeEdit()->setTime(QTime(5, 6, 7));
    answerModal([](QWidget* m) { QVERIFY(clickButtonWithText(m, QStringLiteral("Confirm"))); });
    QCOMPARE(w.exec(), 1);
    w.editor()->setSysDateTime();
    const QStringList cmds = CommandRunner::loggedCommands();
    QCOMPARE(cmds.mid(cmds.size() - 2), (QStringList{"date -s \"2027-03-04 05:06:07\"", "hwclock --systohc"}));

    answerModal([](QWidget* m) { QVERIFY(clickButtonWithText(m, QStringLiteral("Cancel"))); });
    QCOMPARE(w.exec(), 0);
}

void TstWidgetsBoxes::chooseCaliNumOffersPointCounts()
{
    // The touch calibration takes 4, 9 or 25 points; the tool reads the number from the text.
    ChooseCaliNumWidget w(nullptr);
    QStringList items;
    for (int i = 0; i < w.choice()->count(); ++i)
        items << w.choice()->itemText(i).trimmed();
    QCOMPARE(items, (QStringList{"4", "9", "25"}));
}

// Text shaped once is painted pixel for pixel as QPainter::drawText paints
// it: at a baseline under the views' scales, aligned in a rectangle as the
// lamp names are (also when it does not fit), drawn again from the cache,
// and the corner label as the style-sheet QLabel it replaces.
void TstWidgetsBoxes::shapedTextPaintsAsThePainter()
{
    const QStringList texts{QStringLiteral("相机1 检测1: 运行"), QStringLiteral("OK"), QStringLiteral("Ver:1.8 ejector"),
                            QStringLiteral("一个很长很长的输入名称")};
    const int flags[] = {Qt::AlignCenter, Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignBottom,
                         Qt::AlignHCenter | Qt::AlignTop};
    auto paint = [](const std::function<void(QPainter&)>& f) {
        QImage img(420, 160, QImage::Format_ARGB32_Premultiplied);
        img.fill(0xff204060);
        QPainter p(&img);
        p.setPen(QColor(0, 255, 255));
        f(p);
        return img;
    };
    ShapedText shaped(3);
    int compared = 0;
    for (int round = 0; round < 2; ++round) // the second round draws from the kept shaping and images
        for (const QString& t : texts)
            for (int px : {16, 35, 100}) {
                // Uniform and the views' uneven scales (a 1024-line layout on
                // an 800-line screen), at places between device pixels: a
                // line laid on from its image is the painter's line, and one
                // that would not be (letters sharing a pixel, letters left of
                // the device) is drawn in place.
                const QPointF scales[] = {{1.0, 1.0}, {0.6, 0.6}, {0.37, 0.37}, {1.0, 0.78125}, {0.8, 1.25}};
                for (const QPointF& scale : scales) {
                    auto setup = [&](QPainter& p) {
                        p.setFont(boxpaint::houseFont(px));
                        p.scale(scale.x(), scale.y());
                    };
                    for (int y : {120, 121}) {
                        const QImage want = paint([&](QPainter& p) { setup(p); p.drawText(5, y, t); });
                        if (round == 1) // drawn often enough to be laid on from its image
                            for (int n = 0; n < ShapedText::kDrawsBeforeKept; ++n)
                                paint([&](QPainter& p) { setup(p); shaped.draw(p, 5, y, t); });
                        const QImage got = paint([&](QPainter& p) { setup(p); shaped.draw(p, 5, y, t); });
                        QVERIFY2(got == want, qPrintable(QStringLiteral("%1 at %2 px, scale %3 x %4, baseline %5")
                                                             .arg(t).arg(px).arg(scale.x()).arg(scale.y()).arg(y)));
                        ++compared;
                    }
                }
                for (int f : flags) {
                    const QRect r(10, 30, 70, px + 10);
                    const QImage want = paint([&](QPainter& p) { p.setFont(boxpaint::houseFont(px)); p.drawText(r, f, t); });
                    if (round == 1)
                        for (int n = 0; n < ShapedText::kDrawsBeforeKept; ++n)
                            paint([&](QPainter& p) { p.setFont(boxpaint::houseFont(px)); shaped.draw(p, r, f, t); });
                    const QImage got = paint([&](QPainter& p) { p.setFont(boxpaint::houseFont(px)); shaped.draw(p, r, f, t); });
                    QVERIFY2(got == want, qPrintable(QStringLiteral("%1 at %2 px in a box, flags %3").arg(t).arg(px).arg(f)));
                    ++compared;
                }
            }
    QCOMPARE(compared, 2 * 4 * 3 * (5 * 2 + 4));

    const QString sheet = QStringLiteral("QLabel{outline:0px;border:none;font-size:25px;color:#ff9900;}");
    QWidget host;
    host.resize(300, 100);
    QLabel plain(&host);
    ShapedLabel shapedLabel(&host);
    for (QLabel* l : {&plain, static_cast<QLabel*>(&shapedLabel)}) {
        l->setGeometry(10, 10, 240, 30);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(sheet);
        l->setText(QStringLiteral("检测模式: 模具"));
    }
    QCOMPARE(shapedLabel.grab().toImage(), plain.grab().toImage());
}

// A line laid on from its image shows the pen it is drawn with now: the same
// words turned from green to red are red, not the colour the image was made in.
void TstWidgetsBoxes::shapedLineTakesTheColourItIsDrawnIn()
{
    const QString line = QStringLiteral("相机1 检测1: 运行");
    auto paint = [&](const QColor& pen, ShapedText* shaped) {
        QImage img(420, 60, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        p.setFont(boxpaint::houseFont(35));
        p.setPen(pen);
        if (shaped)
            shaped->draw(p, 5, 40, line);
        else
            p.drawText(5, 40, line);
        return img;
    };
    ShapedText shaped;
    for (QColor pen : {Qt::green, Qt::red, Qt::cyan})
        for (int n = 0; n <= ShapedText::kDrawsBeforeKept; ++n)
            QVERIFY2(paint(pen, &shaped) == paint(pen, nullptr),
                     qPrintable(QString("%1, draw %2").arg(pen.name()).arg(n)));
}

// Every message of the table in the four languages, its figures filled in
// (and its first one again as a long file name), as the message box and the
// question box draw it in the house font, never below the floor size, and the
// connection test's words in their panel: no line is cut. A box's ink (what
// differs from the empty box) stays inside the text area the box reports and
// off its white frame; the panel's lines stay inside its text view and clear
// of its close button.
void TstWidgetsBoxes::everyMessageFitsItsBox()
{
    WarnBox warn(nullptr);
    ChooseBox ask(nullptr, 750, 370);
    const auto inkOf = [](const QImage& img, const QImage& empty) {
        QRect ink;
        for (int y = 0; y < img.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(img.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(empty.constScanLine(y));
            if (std::memcmp(a, b, size_t(img.width()) * sizeof(QRgb)) == 0)
                continue;
            for (int x = 0; x < img.width(); ++x)
                if (a[x] != b[x])
                    ink |= QRect(x, y, 1, 1);
        }
        return ink;
    };
    const auto corners = [](const QRect& r) {
        return QStringLiteral("%1,%2 to %3,%4").arg(r.left()).arg(r.top()).arg(r.right()).arg(r.bottom());
    };
    QStringList cut;
    QHash<QWidget*, QImage> emptyBox; // each box drawn once without text
    const auto measure = [&](auto& box, const QString& what, const QString& text) {
        QImage& empty = emptyBox[&box];
        if (empty.isNull()) {
            box.setText(QString());
            empty = box.grab().toImage();
        }
        box.setText(text);
        const QRect ink = inkOf(box.grab().toImage(), empty);
        const QRect allowed = box.textRect() & box.rect().adjusted(8, 8, -8, -8);
        if (!ink.isNull() && !allowed.contains(ink))
            cut << what + ": ink " + corners(ink) + " outside " + corners(allowed);
    };
    int measured = 0;
    for (int m = 0; m < MessageTable::kMessageCount; ++m)
        for (int lan = 0; lan < MessageTable::kLanguages; ++lan) {
            QString text = gaLanStr[4 * m + lan];
            if (text.isEmpty())
                continue;
            // Again with a file name longer than a line, unbroken, as its first figure.
            const QString named = QString(text).replace("%1", "CAM1_DETECT2_NG_" + QString(60, '7') + ".bmp");
            for (QString filled : QSet<QString>{text, named}) {
                for (int k = 1; k <= 9; ++k) // the widest figures in place of every argument
                    filled.replace(QStringLiteral("%%1").arg(k), QStringLiteral("888888.8"));
                const QString what = QStringLiteral("message %1 (language %2%3)")
                                         .arg(m).arg(lan).arg(filled.contains(".bmp") ? ", a file name" : "");
                measure(warn, what + " as a message", filled);
                measure(ask, what + " as a question", filled);
                ++measured;
            }
        }
    QVERIFY(measured > 2500);
    // No word or glyph left alone on the last line where a better balance fits.
    for (const auto& [m, lan] : {std::pair{910, 0}, std::pair{912, 1}, std::pair{912, 3}})
        for (QWidget* box : {static_cast<QWidget*>(&warn), static_cast<QWidget*>(&ask)}) {
            const QRect band = box == &warn ? warn.textRect() : ask.textRect();
            const QStringList lines =
                boxpaint::fitLines(boxpaint::houseFont(40), gaLanStr[4 * m + lan], band.size()).lines;
            const QString& last = lines.last();
            const bool cjk = std::any_of(last.begin(), last.end(), [](QChar c) { return c.unicode() >= 0x2E80; });
            QVERIFY2(last.contains(' ') || (last.size() > 2 && cjk),
                     qPrintable(QString("message %1 (language %2): %3").arg(m).arg(lan).arg(lines.join(" | "))));
        }
    const QString tooMany = QString(60, '\n') + "x"; // more lines than fit even at the floor: the floor
    QCOMPARE(boxpaint::fitLines(boxpaint::houseFont(40), tooMany, QSize(700, 200)).font.pixelSize(), 20);

    // The connection test: no address, no answer, no ping program.
    struct Ping { QByteArray out; int rc; };
    const Ping pings[] = {{"", 0},
                          {"PING 10.1.2.3 (10.1.2.3) 56(84) bytes of data.\n\n--- 10.1.2.3 ping statistics ---\n"
                           "3 packets transmitted, 0 received, 100% packet loss, time 2030ms\n", 1},
                          {"bash: line 1: ping: command not found\n", 127}};
    for (int lan = 0; lan < MessageTable::kLanguages; ++lan) {
        gLan = lan;
        NetworkSettingDialog dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        TextShowWidget* panel = dlg.pingOutput;
        for (const Ping& ping : pings) {
            dlg.server->setAddress(ping.out.isEmpty() ? QString() : QStringLiteral("10.1.2.3"));
            QVERIFY(env->writeSimFile("/cmd/ping.out", ping.out) && env->writeSimFile("/cmd/ping.rc", QByteArray::number(ping.rc)));
            QVERIFY(finger::tap(dlg.testButton));
            QTRY_VERIFY(panel->isVisible());
            QTextBrowser* view = panel->textView();
            const QRect viewArea(view->viewport()->mapTo(panel, QPoint(0, 0)), view->viewport()->size());
            const QRect closeArea = panel->closeButton()->geometry();
            for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
                for (int i = 0; i < b.layout()->lineCount(); ++i) {
                    const QTextLine l = b.layout()->lineAt(i);
                    const QRect line = l.naturalTextRect().translated(b.layout()->position()).toAlignedRect()
                                           .translated(viewArea.topLeft());
                    if (line.left() < viewArea.left() || line.right() > viewArea.right() || line.intersects(closeArea))
                        cut << QStringLiteral("connection test (language %1): \"%2\" at ").arg(lan)
                                       .arg(b.text().mid(l.textStart(), l.textLength())) + corners(line);
                }
            QVERIFY(finger::tap(panel->closeButton()));
        }
    }
    gLan = 1;
    for (const QString& c : cut)
        qInfo().noquote() << c;
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 lines cut (listed above)").arg(cut.size())));
}

QTEST_MAIN(TstWidgetsBoxes)
#include "tst_widgets_boxes.moc"
