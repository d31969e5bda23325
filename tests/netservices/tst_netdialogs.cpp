// The network settings dialogs, driven as a person would: the cards the
// simulated platform shows, a card changed through its dialog (the script
// logged, not run, the settings in ruv_net/config.json, the restart notice),
// the connection test's ping output, and screenshots at both panel sizes in
// English and Simplified Chinese (to STATION_SCREENSHOT_DIR when set).
#include "frame/globals.h"
#include "netservices/httpsink.h"
#include "netservices/netcards.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "platform/commandrunner.h"
#include "testsupport/fiforelease.h"
#include "testsupport/glogcapture.h"
#include "testsupport/modalanswer.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"
#include "widgets/checkbox.h"
#include "widgets/edit.h"
#include "widgets/editip.h"
#include "widgets/networksettingdialog.h"
#include "widgets/numberinput.h"
#include "widgets/textshowwidget.h"
#include "widgets/versiondownloaddialog.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QJsonDocument>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

#include <sys/stat.h>

namespace {
QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

void typeAddress(EditIP* e, const QStringList& octets)
{
    for (int i = 0; i < 4; ++i) {
        e->octet(i)->selectAll();
        QTest::keyClicks(e->octet(i), octets[i]);
    }
}
} // namespace

class TstNetDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_env = std::make_unique<TestEnv>();
        for (const char* n : {"lo", "eth0", "enp2s0"}) {
            m_env->writeSimFile(QString("/sys/class/net/%1/address").arg(n), "00:1b:21:aa:bb:0" + QByteArray(n).right(1));
            m_env->writeSimFile(QString("/sys/class/net/%1/operstate").arg(n), "up\n");
        }
        gpNetDialog = new NetworkSettingDialog;
    }
    void cleanup()
    {
        delete gpNetDialog;
        gpNetDialog = nullptr;
        m_env.reset();
    }

    void aCardChangedThroughItsDialogIsStoredAndApplied()
    {
        RecordingPrompt prompt;
        NetworkSettingDialog* dlg = gpNetDialog;
        dlg->show();
        QCOMPARE(dlg->cardItems().size(), 2);
        QCOMPARE(dlg->cardItems()[0]->card().name, QString("enp2s0"));
        Network_CardItem* eth0 = dlg->cardItems()[1];
        QCOMPARE(eth0->card().mac, QString("00:1b:21:aa:bb:00"));

        NumberInput* pad = nullptr;
        answerModal([&pad](QWidget* w) {
            auto* d = qobject_cast<Network_CardItem_SetDia*>(w);
            QVERIFY(d);
            QVERIFY(!d->ip->isEnabled()); // automatic: nothing to type
            d->mode->setCurrentIndex(1);
            typeAddress(d->ip, {"192", "168", "3", "20"});
            typeAddress(d->mask, {"255", "255", "255", "0"});
            typeAddress(d->gateway, {"192", "168", "3", "1"});
            QTest::mouseClick(d->connectBox, Qt::LeftButton, {}, QPoint(10, d->connectBox->height() / 2));
            pad = gpNumPad;
            QTest::mouseClick(d->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(eth0->setButton(), Qt::LeftButton);
        QVERIFY(!QTest::currentTestFailed());
        // The pad the address fields used is closed and forgotten.
        QVERIFY(pad && !pad->isVisible() && gpNumPad != pad);

        const NetCards::Card c = eth0->card();
        QVERIFY(!c.dhcp && c.connect && c.enabled);
        QCOMPARE(c.ip, QString("192.168.3.20"));
        const QJsonObject kept = NetCards::readConfig()["netcards"].toObject()["eth0"].toObject();
        QCOMPARE(kept["ip"].toString(), QString("192.168.3.20"));
        QCOMPARE(kept["mask"].toString(), QString("255.255.255.0"));
        QCOMPARE(kept["gateway"].toString(), QString("192.168.3.1"));
        QCOMPARE(kept["dhcp"].toBool(true), false);
        QCOMPARE(CommandRunner::loggedCommands(), QStringList{NetCards::scriptCommand()});
        QCOMPARE(prompt.numbers(), QList<int>{418});

        // Opened and confirmed unchanged: nothing is applied again.
        answerModal([](QWidget* w) { QTest::mouseClick(static_cast<CComp_DialogFrame*>(w)->okButton(), Qt::LeftButton); });
        QTest::mouseClick(eth0->setButton(), Qt::LeftButton);
        QCOMPARE(CommandRunner::loggedCommands().size(), 1);
        QCOMPARE(prompt.numbers().size(), 1);

        // The other card chosen to connect: the first one no longer does.
        answerModal([](QWidget* w) {
            auto* d = qobject_cast<Network_CardItem_SetDia*>(w);
            QVERIFY(d && !d->connectBox->isChecked());
            QTest::mouseClick(d->connectBox, Qt::LeftButton, {}, QPoint(10, d->connectBox->height() / 2));
            QTest::mouseClick(d->okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(dlg->cardItems()[0]->setButton(), Qt::LeftButton);
        const QJsonObject cards = NetCards::readConfig()["netcards"].toObject();
        QVERIFY(cards["enp2s0"].toObject()["connect"].toBool());
        QVERIFY(!cards["eth0"].toObject()["connect"].toBool(true));
        QVERIFY(!eth0->card().connect);
    }

    // The viewer link is switched on and off in the dialog: off, nothing
    // leaves for the bridge, not even a heartbeat.
    void theViewerLinkFollowsItsSwitch()
    {
        RecordingPrompt prompt;
        HttpSink sink;
        qputenv("STATION_VIEWER_URL", sink.url().toString().toLatin1());
        ZEV_NETMN* net = ZEV_NETMN::getInstance();
        net->initStart();
        ViewWatch2ZEL* link = net->viewWatch();
        NetworkSettingDialog* dlg = gpNetDialog;
        dlg->show();
        const auto flip = [dlg] {
            QTest::mouseClick(dlg->viewerLink, Qt::LeftButton, {}, QPoint(10, dlg->viewerLink->height() / 2));
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
        };
        QVERIFY(!dlg->viewerLink->isChecked());
        QCOMPARE(link->isAllowSnd_2_VW(), -1);
        flip();
        QCOMPARE(NetCards::readConfig()["device_worknetfunc"], QJsonValue(true));
        QTRY_COMPARE_WITH_TIMEOUT(link->isAllowSnd_2_VW(), 0, 5000);
        link->sndRecordOperate(QJsonObject{{"n", 1}});
        QTRY_COMPARE_WITH_TIMEOUT(sink.requests.size(), 1, 5000);

        dlg->reload();
        dlg->show();
        QVERIFY(dlg->viewerLink->isChecked());
        flip();
        QCOMPARE(NetCards::readConfig()["device_worknetfunc"], QJsonValue(false));
        QCOMPARE(link->isAllowSnd_2_VW(), -1);
        const int beats = sink.heartbeats;
        link->sndRecordOperate(QJsonObject{{"n", 2}});
        QTest::qWait(300);
        QCOMPARE(sink.requests.size(), 1);
        QCOMPARE(sink.heartbeats, beats);
        qunsetenv("STATION_VIEWER_URL");
    }

    void settingsAndConnectionTest()
    {
        RecordingPrompt prompt;
        m_env->writeSimFile("/cmd/ping.out", "64 bytes from 10.1.2.3: icmp_seq=1 ttl=64 time=0.1 ms\n");
        NetworkSettingDialog* dlg = gpNetDialog;
        dlg->show();
        QVERIFY(!dlg->pingOutput->isVisible());
        QTest::mouseClick(dlg->testButton, Qt::LeftButton);
        QVERIFY(dlg->pingOutput->isVisible());
        QCOMPARE(dlg->pingOutput->textView()->toPlainText(), messageText(880)); // no address yet
        typeAddress(dlg->server, {"10", "255", "2", "3"}); // 255 is an octet like any other
        QTest::mouseClick(dlg->testButton, Qt::LeftButton);
        const QString shown = dlg->pingOutput->textView()->toPlainText();
        QVERIFY2(shown.startsWith(messageText(420)) && shown.contains("ttl=64"), qPrintable(shown));
        QVERIFY(CommandRunner::loggedCommands().last().startsWith("ping -c 3 -W 1 "));
        QVERIFY(CommandRunner::loggedCommands().last().contains("10.255.2.3"));
        emit dlg->pingOutput->sigHideWidget();
        QVERIFY(!dlg->pingOutput->isVisible());

        QTest::keyClicks(dlg->port, "8080");
        QTest::keyClicks(dlg->deviceName, "Press7");
        QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
        QVERIFY(!dlg->isVisible());
        const QJsonObject cfg = NetCards::readConfig();
        QCOMPARE(cfg["serveraddr"].toString(), QString("10.255.2.3"));
        QCOMPARE(cfg["serverport"].toInt(), 8080);
        QCOMPARE(cfg["devicename"].toString(), QString("Press7"));
        QCOMPARE(prompt.numbers(), QList<int>{418});
    }

    // A ping that reaches nothing says what it pinged and why it failed.
    void connectionTestFailureSaysWhy()
    {
        NetworkSettingDialog* dlg = gpNetDialog;
        dlg->show();
        typeAddress(dlg->server, {"10", "1", "2", "3"});
        const struct { QByteArray out; int rc; QString why; } cases[] = {
            {"PING 10.1.2.3 (10.1.2.3) 56(84) bytes of data.\n\n--- 10.1.2.3 ping statistics ---\n"
             "3 packets transmitted, 0 received, 100% packet loss, time 2030ms\n", 1, messageText(882)},
            {"bash: line 1: ping: command not found\n", 127, messageText(883)},
            {"ping: connect: Network is unreachable\n", 2, "ping: connect: Network is unreachable"}};
        for (const auto& c : cases) {
            QVERIFY(m_env->writeSimFile("/cmd/ping.out", c.out) && m_env->writeSimFile("/cmd/ping.rc", QByteArray::number(c.rc)));
            QTest::mouseClick(dlg->testButton, Qt::LeftButton);
            const QString shown = dlg->pingOutput->textView()->toPlainText();
            QVERIFY2(shown.startsWith(messageText(421) + "\n" + messageText(881).arg("10.1.2.3", c.why) + "\n"),
                     qPrintable(shown));
        }
    }

    // scripts/run.sh lays this machine's cards out below the sim root: the
    // dialog lists each of them but the loopback, with its hardware address.
    void machineCardsLaidOutAsRunShDoes()
    {
        QProcess lay;
        lay.start("bash", {TestEnv::sourceDir() + "/scripts/simnetcards.sh", m_env->simRoot()});
        QVERIFY(lay.waitForFinished(10000));
        QCOMPARE(lay.exitCode(), 0);
        delete gpNetDialog;
        gpNetDialog = new NetworkSettingDialog;
        QStringList want, got;
        const QDir sys("/sys/class/net");
        for (const QString& n : sys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
            if (n != "lo")
                want << n + " " + QString::fromLatin1(bytesOf(sys.filePath(n) + "/address")).trimmed();
        for (Network_CardItem* item : gpNetDialog->cardItems())
            got << item->card().name + " " + item->card().mac;
        QCOMPARE(got, want);
    }

    // A card's name is whatever the system calls it: applied through its
    // dialog, it is logged on one line, a line feed in it spelled out.
    void aCardNameStaysOnOneLogLine()
    {
        RecordingPrompt prompt;
        QVERIFY(m_env->writeSimFile("/sys/class/net/eth\nE1207 forged/address", "00:1b:21:aa:bb:09"));
        delete gpNetDialog;
        gpNetDialog = new NetworkSettingDialog;
        gpNetDialog->show();
        Network_CardItem* item = nullptr;
        for (Network_CardItem* i : gpNetDialog->cardItems())
            if (i->card().name.contains("forged"))
                item = i;
        QVERIFY(item);
        answerModal([](QWidget* w) {
            auto* d = qobject_cast<Network_CardItem_SetDia*>(w);
            QVERIFY(d);
            QTest::mouseClick(d->connectBox, Qt::LeftButton, {}, QPoint(10, d->connectBox->height() / 2));
            QTest::mouseClick(d->okButton(), Qt::LeftButton);
        });
        GlogCapture log;
        QTest::mouseClick(item->setButton(), Qt::LeftButton);
        QCOMPARE(CommandRunner::loggedCommands(), QStringList{NetCards::scriptCommand()});
        QVERIFY(log.has("network card eth\\x0aE1207 forged: on"));
        QVERIFY(!log.has("\n"));
    }

    // What others may lay at the settings file's name: one that does not
    // parse is kept aside before the save replaces it; a link, at its name
    // or at the aside copy's, is neither written through nor cut; a FIFO
    // there or at a card's address file holds nothing up. (A reader that
    // waits is let go after 3 s.)
    void settingsFileLaidByOthers()
    {
        RecordingPrompt prompt;
        const QByteArray damaged = R"({"devicename": "Press 7", "bigdata": 1)";
        QVERIFY(m_env->writeWorkFile("ruv_net/config.json", damaged));
        const auto saveDeviceName = [](const QString& name) {
            delete gpNetDialog;
            gpNetDialog = new NetworkSettingDialog;
            gpNetDialog->show();
            gpNetDialog->deviceName->clear();
            QTest::keyClicks(gpNetDialog->deviceName, name);
            QTest::mouseClick(gpNetDialog->okButton(), Qt::LeftButton);
        };
        saveDeviceName("Press8");
        QCOMPARE(bytesOf("ruv_net/config.json.damaged"), damaged);
        QCOMPARE(NetCards::readConfig()["devicename"].toString(), QString("Press8"));

        QVERIFY(m_env->writeWorkFile("elsewhere.json", R"({"keep": 1})"));
        QVERIFY(QFile::remove("ruv_net/config.json") && QFile::link("../elsewhere.json", "ruv_net/config.json"));
        saveDeviceName("Press9");
        QCOMPARE(bytesOf("elsewhere.json"), QByteArray(R"({"keep": 1})"));
        QVERIFY(QFileInfo("ruv_net/config.json").isSymLink());
        // Nor is what a link points to copied aside as a damaged file.
        QVERIFY(m_env->writeWorkFile("elsewhere.json", "not for the station's files"));
        saveDeviceName("Press10");
        QCOMPARE(bytesOf("ruv_net/config.json.damaged"), damaged);
        // A link laid where the damaged file is kept aside is left, and so is
        // what it points to; the settings are still stored.
        QVERIFY(QFile::remove("ruv_net/config.json") && m_env->writeWorkFile("ruv_net/config.json", damaged));
        QVERIFY(QFile::remove("ruv_net/config.json.damaged")
                && QFile::link("../elsewhere.json", "ruv_net/config.json.damaged"));
        saveDeviceName("Press12");
        QVERIFY(QFileInfo("ruv_net/config.json.damaged").isSymLink());
        QCOMPARE(bytesOf("elsewhere.json"), QByteArray("not for the station's files"));
        QCOMPARE(NetCards::readConfig()["devicename"].toString(), QString("Press12"));

        const QString address = m_env->simRoot() + "/sys/class/net/eth0/address";
        QVERIFY(QFile::remove("ruv_net/config.json") && ::mkfifo("ruv_net/config.json", 0644) == 0);
        QVERIFY(QFile::remove(address) && ::mkfifo(QFile::encodeName(address), 0644) == 0);
        {
            FifoRelease release({"ruv_net/config.json", address});
            QElapsedTimer t;
            t.start();
            saveDeviceName("Press11");
            QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        }
        QCOMPARE(gpNetDialog->cardItems()[1]->card().mac, QString());
    }

    // Only archives are offered.
    void versionDialogOffersTheDrivesArchives()
    {
        for (const char* f : {"/mnt/station-2.1.tar.gz", "/mnt/b.RAR", "/mnt/c.zip", "/mnt/d.tar", "/mnt/tar"})
            QVERIFY(m_env->writeSimFile(f, "x"));
        VersionDownloadDialog dlg;
        dlg.show();
        QStringList shown;
        for (int i = 0; i < dlg.list->count(); ++i)
            shown << dlg.list->item(i)->text();
        QCOMPARE(shown, (QStringList{"b.RAR", "d.tar", "station-2.1.tar.gz"}));
        QCOMPARE(dlg.notice->text(), messageText(862));
    }

    void screenshots()
    {
        const QString dir = qEnvironmentVariable("STATION_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("STATION_SCREENSHOT_DIR not set");
        QDir().mkpath(dir);
        const int lang = gLan;
        for (int l : {0, 1}) {
            gLan = l;
            for (QSize s : {QSize(1024, 768), QSize(1280, 800)}) {
                NetworkSettingDialog dlg;
                dlg.resize(s);
                dlg.show();
                QVERIFY(dlg.grab().save(QString("%1/netsettings_%2_%3x%4.png").arg(dir).arg(l).arg(s.width()).arg(s.height())));
                Network_CardItem_SetDia card(dlg.cardItems()[1]->card(), &dlg);
                card.mode->setCurrentIndex(1);
                card.resize(std::min(900, s.width()), std::min(640, s.height()));
                card.show();
                QVERIFY(card.grab().save(QString("%1/netcard_%2_%3x%4.png").arg(dir).arg(l).arg(s.width()).arg(s.height())));
            }
        }
        gLan = lang;
    }

    // Without a stand-in answer the test runs this machine's ping (which
    // scripts/deps.sh installs), as on the README's machine: the loopback
    // address answers.
    void connectionTestReachesTheLoopback()
    {
        NetworkSettingDialog* dlg = gpNetDialog;
        dlg->show();
        typeAddress(dlg->server, {"127", "0", "0", "1"});
        QTest::mouseClick(dlg->testButton, Qt::LeftButton);
        const QString shown = dlg->pingOutput->textView()->toPlainText();
        QVERIFY2(shown.startsWith(messageText(420)) && shown.contains("127.0.0.1"), qPrintable(shown));
    }

private:
    std::unique_ptr<TestEnv> m_env;
};

QTEST_MAIN(TstNetDialogs)
#include "tst_netdialogs.moc"
