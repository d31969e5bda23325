#include "settings/settingsrig.h"
#include "controller/ui/indexbutton.h"
#include "controller/ui/redowizard.h"
#include "controller/stationexit.h"
#include "settings/ui/wizardparawidget.h"
#include "frame/globals.h"
#include "testsupport/finger.h"
#include "testsupport/testenv.h"
#include "inspection/ui/cammerwidget.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "frame/operatorprompt.h"
#include "widgets/passwordbox.h"
#include "widgets/warnbox.h"
#include "widgets_boxes/widgettest.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

OperatorHand::OperatorHand()
{
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, this, &OperatorHand::poll);
    m_timer.start();
}

void OperatorHand::poll()
{
    // Clicks process events: a box answered is not answered again from inside.
    if (m_busy)
        return;
    m_busy = true;
    // The next touch of a person comes once the box has gone and the focus
    // has settled on a window. A box shown again before that (quicker than
    // any hand; on an X server under load) finds Qt's window layer still
    // giving it the focus while no widget window is active: it never
    // becomes active and its field opens no pad.
    if (answer())
        (void)QTest::qWaitFor(
            [] {
                QWidget* active = QApplication::activeWindow();
                return (active ? active->windowHandle() : nullptr) == QGuiApplication::focusWindow()
                    && (!active || active->isVisible());
            },
            5000);
    m_busy = false;
}

bool OperatorHand::answer()
{
    const auto next = [this] { return script.isEmpty() ? QString() : script.takeFirst(); };
    if (gpPasswordBox && gpPasswordBox->isVisible()) {
        seen << QStringLiteral("login");
        const QString a = next();
        if (a.startsWith(QLatin1String("login:"))) {
            // A person touches the field once the box is up and active (a
            // field in an inactive window takes no focus and opens no pad),
            // and types once the pad is up. QWindow::isActive is no help: it
            // counts the box active while the window it was asked from is.
            (void)QTest::qWaitFor([] { return QApplication::activeWindow() == gpPasswordBox; }, 5000);
            finger::tap(gpPasswordBox->field());
            // Typed either way: a pad that never came fails the typing, which
            // says so.
            (void)QTest::qWaitFor([] { return gpNumPad && gpNumPad->isVisible(); }, 5000);
            finger::typeDigits(a.mid(6));
            finger::tap(gpNumPad->okKey());
        }
        if (gpPasswordBox->isVisible() && !finger::tap(gpPasswordBox->cancelButton()))
            gpPasswordBox->reject(); // out of reach: the test failed; let it end
        return true;
    }
    for (QWidget* w : QApplication::topLevelWidgets() + QApplication::allWidgets()) {
        if (!w->isVisible())
            continue;
        if (auto* c = dynamic_cast<ChooseBox*>(w)) {
            seen << c->text();
            if (look)
                look(c);
            if (!finger::tap(next() == QLatin1String("yes") ? c->yesButton() : c->noButton()))
                c->reject(); // out of reach: the test failed; let it end
            return true;
        }
        if (auto* b = dynamic_cast<WarnBox*>(w); b && b->isModal()) {
            seen << b->text();
            if (look)
                look(b);
            if (!script.isEmpty() && script.first() == QLatin1String("ok"))
                script.removeFirst();
            if (!finger::tap(b->okButton()))
                b->reject(); // out of reach: the test failed; let it end
            return true;
        }
    }
    return false;
}

SettingsRig::SettingsRig(int lan)
{
    m_env = std::make_unique<TestEnv>();
    // The plug-in reads its configuration once per process: one call log
    // for the process, read from where this rig began.
    m_log = QDir::temp().filePath(QStringLiteral("settings-camera-calls-%1.log").arg(QCoreApplication::applicationPid()));
    static const struct RemoveAtExit {
        QString path;
        ~RemoveAtExit() { QFile::remove(path); }
    } logFile{m_log};
    m_logStart = cameraCalls().size();
    QVERIFY(m_cfg.open());
    QJsonArray list;
    for (int c = 0; c < 2; ++c)
        list.append(QJsonObject{{"sn", QStringLiteral("SETCAM-%1").arg(c)}, {"color", c == 1}});
    m_cfg.write(QJsonDocument(QJsonObject{{"cameras", list}, {"width", 320}, {"height", 256}, {"callLog", m_log}})
                    .toJson());
    m_cfg.flush();
    qputenv("STATION_SIMCAMERA_CONFIG", m_cfg.fileName().toLocal8Bit());
    widgettest::resetShared();
    StationExit::resetForTest();
    // The station takes its language from the stored set.
    QVERIFY(setStored(QStringLiteral("PARAM.db"), QStringLiteral("system2"), 13, lan));
    gLan = lan;
    win = new ReDoWizard(nullptr);
    win->show();
    win->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(win));
    m_logStart = cameraCalls().size();
}

void SettingsRig::restart()
{
    delete win;
    widgettest::resetShared();
    StationExit::resetForTest();
    TestEnv::resetProcessState(nullptr);
    gLan = 0;
    win = new ReDoWizard(nullptr);
    win->show();
    win->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(win));
}

SettingsRig::~SettingsRig()
{
    delete win;
    widgettest::resetShared();
    m_env.reset();
    qunsetenv("STATION_SIMCAMERA_CONFIG");
}

void SettingsRig::click(QWidget* w)
{
    finger::tap(w);
}

void SettingsRig::press(const QString& text)
{
    const auto find = [&]() -> ColorButton* {
        for (ColorButton* b : win->settingsWindow->findChildren<ColorButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    };
    ColorButton* b = find();
    QVERIFY2(b, qPrintable("no button " + text));
    for (int tab : {215, 128, 205, 225, 783}) {
        if (b->isVisible())
            break;
        for (ColorButton* t : win->settingsWindow->findChildren<ColorButton*>())
            if (t->text() == messageText(tab) && t->isVisible())
                click(t);
    }
    click(b);
}

void SettingsRig::typeLetters(const QString& text)
{
    QVERIFY(gpNumCharPad && gpNumCharPad->isVisible());
    for (QChar c : text) {
        ColorButton* key = nullptr;
        // Letters, digits, or the other page's punctuation.
        for (int round = 0; round < 2 && !key; ++round) {
            for (int i = 0; i < NumCharInput::PageKey && !key; ++i)
                if (gpNumCharPad->key(i)->text() == QString(c))
                    key = gpNumCharPad->key(i);
            if (!key)
                QVERIFY(finger::tap(gpNumCharPad->key(NumCharInput::PageKey)));
        }
        QVERIFY2(key, qPrintable(QString("no key ") + c));
        QVERIFY(finger::tap(key));
    }
    QVERIFY(finger::tap(gpNumCharPad->key(NumCharInput::OkKey)));
}

void SettingsRig::openSettings()
{
    // A touch on a view brings the side bar.
    for (CammerWidget* v : win->views)
        if (v && v->isVisible()) {
            finger::tap(v);
            break;
        }
    click(win->sideBar->systemPara);
}

namespace {
template <typename F>
void withDb(const QString& file, F f)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rig-read"));
        db.setDatabaseName(file);
        if (db.open())
            f(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rig-read"));
}
} // namespace

QString SettingsRig::storedRow(const QString& key)
{
    QString v;
    withDb(QStringLiteral("PARAM.db"), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select value from sysparam where name='%1'").arg(key)) && q.next())
            v = q.value(0).toString();
    });
    return v;
}

int SettingsRig::stored(const QString& key, int pos)
{
    return storedRow(key).split(QLatin1Char(' ')).value(pos - 1, QStringLiteral("-999")).toInt();
}

bool SettingsRig::setStored(const QString& file, const QString& key, int pos, int value)
{
    bool ok = false;
    withDb(file, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select value from sysparam where name='%1'").arg(key)) || !q.next())
            return;
        QStringList values = q.value(0).toString().split(QLatin1Char(' '));
        if (values.size() < pos)
            return;
        values[pos - 1] = QString::number(value);
        ok = q.exec(QStringLiteral("update sysparam set value='%1' where name='%2'").arg(values.join(' '), key));
    });
    return ok;
}

QStringList SettingsRig::journal()
{
    QStringList out;
    withDb(QStringLiteral("RECORD.db"), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("select remarks from RECORD"));
        while (q.next())
            out << q.value(0).toString();
    });
    return out;
}

QStringList SettingsRig::cameraCalls() const
{
    QFile f(m_log);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(m_logStart);
}
