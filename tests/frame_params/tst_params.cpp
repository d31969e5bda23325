// The parameter store against real SQLite files in a fresh working directory
// and a real main-window state holding the query.
#include "controller/mainstate.h"
#include "frame/dbconfighelpers.h"
#include "frame/factorydefaults.h"
#include "frame/globals.h"
#include "frame/ionames.h"
#include "frame/messagetable.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "testsupport/fiforelease.h"
#include "testsupport/logcapture.h"
#include "testsupport/testenv.h"

#include <QFile>
#include <QProcess>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

// A second connection on the working directory's PARAM.db, to seed and read
// rows behind the store's back.
class ParamFile
{
public:
    explicit ParamFile(const QString& file = QStringLiteral("PARAM.db"))
        : m_name(QStringLiteral("tst-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.open();
    }
    ~ParamFile()
    {
        db().close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool exec(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery q(db());
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        const bool ok = q.exec();
        if (!ok)
            qWarning() << sql << q.lastError().text();
        return ok;
    }
    bool set(const QString& key, const QString& value)
    {
        exec(QStringLiteral("delete from sysparam where name=?"), {key});
        return exec(QStringLiteral("insert into sysparam values(?, ?)"), {key, value});
    }
    bool remove(const QString& key) { return exec(QStringLiteral("delete from sysparam where name=?"), {key}); }
    // The row's value; a null QVariant when there is no row.
    QVariant get(const QString& key)
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(key);
        if (q.exec() && q.next())
            return q.value(0);
        return QVariant();
    }
    // Every stored row, by key.
    QMap<QString, QString> rows()
    {
        QMap<QString, QString> out;
        for (const QString& key : WizardPara::storedKeys())
            out[key] = get(key).toString();
        return out;
    }
    QStringList keys()
    {
        QStringList out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("select name from sysparam"));
        while (q.next())
            out << q.value(0).toString();
        return out;
    }

private:
    static int s_count;
    QString m_name;
};
int ParamFile::s_count = 0;

QString msg(int m, int lan) { return gaLanStr[4 * m + lan]; }

QVector<int> firstOf(const int* a, int n) { return QVector<int>(a, a + n); }

QString join(const QVector<int>& values)
{
    QStringList s;
    for (int v : values)
        s << QString::number(v);
    return s.join(' ');
}

// Gives every field of the set a different value, so that a field written to
// or read from the wrong position shows up.
void fillDistinct(WizardPara& p)
{
    int n = 100;
    auto next = [&n]() { return n++; };
    auto arr = [&](int* a, int count) {
        for (int i = 0; i < count; ++i)
            a[i] = next();
    };
    arr(p.exposeTime, 8); arr(p.adjustPlus, 8); arr(p.sharp, 8); arr(p.contrast, 8); arr(p.gamma, 8);
    arr(p.saturation, 8); arr(p.noise3D, 8); arr(p.noise2D, 8); arr(p.trigInDelay, 8); arr(p.outInitState, 9);
    for (int* f : {&p.semiAuto, &p.stopClampOnStop, &p.motionCorrect, &p.cutEjectorOnClamp, &p.isPswUsed,
                   &p.tempAutoUpdate, &p.enableProdDetect, &p.tempNum, &p.ngRecNum, &p.okRecNum, &p.scrOffTime,
                   &p.camSpeed, &p.amplify, &p.autoLogout, &p.reCheckTimes, &p.reCheckDelay, &p.ejectorPulse,
                   &p.clampPulse, &p.out4Pulse, &p.iTime, &p.shakeEraseTime, &p.reInspectDelay, &p.filterSize,
                   &p.alarmArea, &p.matchAccuracy, &p.zoomLayers, &p.noEjectorCtrlProd, &p.ejectorPulseProdNG,
                   &p.moldNGClampPulse, &p.in4Use, &p.cutClampFixedTime, &p.cutEjectorFixedTime, &p.okNgPulses,
                   &p.cutEjectorOnProdDetect, &p.cutClampOnMoldDetect, &p.outOnMoldCavity, &p.noDetectModeSignal,
                   &p.prodDetectOption, &p.inputResetRecheck, &p.noAlarmSound, &p.noEjectorPin, &p.resampleNoCut,
                   &p.stopDetectCutOff, &p.prodInspectOption, &p.moldInspectOption, &p.nocheckPswUsed,
                   &p.addTempPswUsed, &p.stopDetectPswUsed, &p.doorLiftAlarm, &p.useDefect, &p.useSpot,
                   &p.useIgnoreArea, &p.useManualLocate, &p.showAllParam, &p.doorTrigDetect, &p.spare3v10,
                   &p.useStatistics, &p.out4Use, &p.offsetValue, &p.spare7v11, &p.realTimeROI, &p.useLog,
                   &p.spare6v11, &p.matchBrightness, &p.angleCorrect, &p.noRefreshAfterAlarm, &p.addAllCamTemp,
                   &p.camSampleSeparately, &p.prodNGOption, &p.shieldPin, &p.camDisconnect, &p.okMoldNum,
                   &p.continuationArea, &p.rectToIrregular, &p.continuousCopy, &p.spare9v17, &p.imageZoom,
                   &p.polygonStartPoint, &p.comPort, &p.colorCamera, &p.grayChannel, &p.noLensOpt, &p.minSpot,
                   &p.showManualSnap, &p.showFactoryParam, &p.separateDetectSignal, &p.systemModeSet,
                   &p.moldSelect, &p.preCut, &p.autoShading, &p.useBlackArea, &p.useWhiteArea,
                   &p.useWhiteNumber, &p.useBlackNumber, &p.useColorSpots, &p.useSimilarity, &p.rotateAngle,
                   &p.spareValue, &p.days, &p.lostUpanAlarm, &p.useDiskSaveImage, &p.NgShowSwitch, &p.spare7v12,
                   &p.multiDetectNum, &p.sequentialDetect, &p.extTrigger, &p.spare9v19})
        *f = next();
    arr(p.tempIsNG, 2); arr(p.isColors, 8); arr(p.multiOutDetect, 8); arr(p.multiTrigIn, 8);
    arr(p.multiCutMode, 8); arr(p.customInName, 8); arr(p.customOutName, 8); arr(p.spare11a, 8);
    arr(p.spare11b, 8); arr(p.hMirror, 8); arr(p.vMirror, 8);
    p.motionCorrect = -1; // negative values keep their sign
    gLan = next();
    qstrcpy(p.password, "op'pw\"1");
    p.alarmPassword = QStringLiteral("al'arm");
    p.nocheckPassword = QStringLiteral("no\"check");
}

// The table layout written out position by position.
QMap<QString, QString> expectedRows(const WizardPara& p)
{
    QMap<QString, QString> r;
    r["trigInDelay"] = join(firstOf(p.trigInDelay, 8));
    r["exposeTime"] = join(firstOf(p.exposeTime, 4));
    r["sharp"] = join(firstOf(p.sharp, 4));
    r["contrast"] = join(firstOf(p.contrast, 4));
    r["adjustPlus"] = join(firstOf(p.adjustPlus, 4));
    r["numFailDetect"] = join({p.systemModeSet, p.moldSelect, p.spareValue, p.autoShading, p.useColorSpots,
                               p.useBlackArea, p.useWhiteArea, p.useSimilarity});
    r["numAllDetect"] = join(firstOf(p.gamma, 8));
    r["isPswUsed"] = QString::number(p.isPswUsed);
    r["password"] = QString::fromLatin1(p.password);
    r["system1"] = join({p.semiAuto, p.enableProdDetect, p.spareValue, p.motionCorrect, p.stopClampOnStop, p.preCut,
                         p.reCheckTimes, p.okRecNum, p.rectToIrregular});
    r["system2"] = join({p.cutEjectorOnClamp, p.tempNum, p.minSpot, p.ngRecNum, p.ejectorPulse, p.clampPulse,
                         p.ejectorPulseProdNG, p.cutClampFixedTime, p.noEjectorCtrlProd, p.nocheckPswUsed,
                         p.addTempPswUsed, p.camDisconnect, gLan, p.out4Use, p.offsetValue, p.scrOffTime,
                         p.camSpeed, p.iTime});
    r["system3"] = join({p.in4Use, p.doorLiftAlarm, p.amplify, p.useDefect, p.useSpot, p.useIgnoreArea,
                         p.useManualLocate, p.showAllParam, p.autoLogout, p.spare3v10, p.doorTrigDetect});
    r["system4"] = join({p.tempAutoUpdate, p.filterSize, p.alarmArea});
    r["system5"] = join({p.exposeTime[4], p.exposeTime[5], p.adjustPlus[4], p.adjustPlus[5], p.sharp[4], p.sharp[5],
                         p.contrast[4], p.contrast[5], p.okNgPulses, p.rotateAngle, p.cutEjectorOnProdDetect,
                         p.extTrigger, p.cutClampOnMoldDetect});
    r["system6"] = join({p.exposeTime[6], p.exposeTime[7], p.adjustPlus[6], p.adjustPlus[7], p.sharp[6], p.sharp[7],
                         p.contrast[6], p.contrast[7], p.shakeEraseTime, p.useStatistics, p.spare6v11,
                         p.stopDetectPswUsed});
    r["system7"] = join({p.comPort, p.colorCamera, p.grayChannel, p.showManualSnap, p.outInitState[0],
                         p.outInitState[1], p.outInitState[2], p.noLensOpt, p.outInitState[3], p.showFactoryParam,
                         p.spare7v11, p.spare7v12, p.realTimeROI, p.camSampleSeparately, p.outInitState[4],
                         p.outInitState[5], p.outInitState[6], p.outInitState[7], p.outInitState[8],
                         p.useWhiteNumber});
    r["system8"] = QString::number(p.multiDetectNum) + ' ' + join(firstOf(p.multiTrigIn, 8)) + ' '
        + join(firstOf(p.multiCutMode, 8)) + ' ' + join({p.cutEjectorFixedTime, p.useLog, p.matchBrightness});
    r["system9"] = join(firstOf(p.multiOutDetect, 8)) + ' '
        + join({p.matchAccuracy, p.zoomLayers, p.outOnMoldCavity, p.out4Pulse, p.continuationArea,
                p.noDetectModeSignal, p.prodDetectOption, p.continuousCopy, p.spare9v17, p.inputResetRecheck,
                p.spare9v19, p.spareValue});
    r["system10"] = join(firstOf(p.customInName, 8)) + ' ' + join(firstOf(p.customOutName, 8)) + ' '
        + join({p.days, p.lostUpanAlarm, p.useDiskSaveImage, p.resampleNoCut});
    r["system11"] = join(firstOf(p.spare11a, 8)) + ' ' + join(firstOf(p.spare11b, 8)) + ' '
        + join({p.sequentialDetect, p.tempIsNG[0], p.tempIsNG[1], p.noEjectorPin});
    r["system12"] = QString::number(p.angleCorrect) + ' ' + join(firstOf(p.hMirror, 8)) + ' '
        + join(firstOf(p.vMirror, 8)) + ' ' + join({p.noRefreshAfterAlarm, p.addAllCamTemp, p.separateDetectSignal});
    r["system13"] = join(firstOf(p.saturation, 8)) + ' ' + join(firstOf(p.noise3D, 8)) + ' '
        + join({p.useBlackNumber, p.prodNGOption, p.reInspectDelay, p.shieldPin});
    r["system14"] = join({p.moldNGClampPulse, p.reCheckDelay, p.okMoldNum, p.imageZoom, p.noAlarmSound,
                          p.polygonStartPoint}) + ' ' + join(firstOf(p.noise2D, 8)) + ' '
        + join({p.stopDetectCutOff, p.prodInspectOption, p.moldInspectOption, p.spareValue, p.spareValue,
                p.spareValue});
    r["alarmPassword"] = p.alarmPassword;
    r["nocheckPassword"] = p.nocheckPassword;
    r["NgShowSwitch"] = QString::number(p.NgShowSwitch);
    r["isColors"] = join(firstOf(p.isColors, 8));
    r["colorArea"] = QString("%1 %2").arg(p.colorAreaMin).arg(p.colorAreaMax);
    return r;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TstParams : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(MessageTable::load() > 0);
        QVERIFY2(QFile::exists(TestEnv::buildDir() + "/workdir/PARAM.db"), "factory template missing (build target workdir)");
    }

    void init()
    {
        gLan = 0;
        m_env = std::make_unique<TestEnv>();
        QVERIFY(m_env->isValid());
    }

    void cleanup()
    {
        m_win.reset();
        m_env.reset();
    }

    void factoryTemplateLoadsIntoMainWindow()
    {
        // Every camera position starts free.
        ParamFile sn("SN.db");
        for (int k = 0; k < 8; ++k)
            QCOMPARE(sn.get(QString("serialNB%1").arg(k)).toString(), QString("0"));

        window();
        QVERIFY(m_paraDbOpen);
        QVERIFY(CommandRunner::loggedCommands().filter("cp -f").isEmpty());
        // Nothing was inserted: the template is complete. (That every row
        // loads into its field is the distinct-values round trip below.)
        QCOMPARE(ParamFile().keys().size(), 28);
        QCOMPARE(gDNum, 2);
        QCOMPARE(QVector<int>({gTempNum, gPicNumNG, gPicNumOK, gisCOM, gisGrayHue}),
                 QVector<int>({gpWPara->tempNum, gpWPara->ngRecNum, gpWPara->okRecNum, gpWPara->comPort,
                               gpWPara->grayChannel}));
        QCOMPARE(gaName[0], msg(301, 0));
        // The edit copy is not loaded.
        QCOMPARE(gpWParaBak->exposeTime[0], 0);
    }

    void everyFieldHasItsTablePosition()
    {
        // Save: each field lands at its position.
        WizardPara p;
        fillDistinct(p);
        const int lan = gLan;
        const QMap<QString, QString> expected = expectedRows(p);
        QVERIFY(FactoryDefaults::writeParamDb("layout.db", p, lan));
        gLan = 0;
        ParamFile f("layout.db");
        QCOMPARE(f.keys().size(), 28);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(f.get(it.key()).toString(), it.value());

        // Load: each position lands in its field (no validation on this path).
        WizardPara back;
        QSqlQuery q(f.db());
        QVERIFY(back.readRows(q));
        q = QSqlQuery();
        QCOMPARE(gLan, lan);
        back.systemModeSet = back.systemMode; // position 1 is loaded into the mode in force
        QCOMPARE(back.systemMode, p.systemModeSet);
        for (const QString& key : WizardPara::storedKeys())
            QCOMPARE(back.rowValue(key), expected.value(key));
    }

    void roundTripThroughMainWindow()
    {
        window();
        // Every stored value distinct, the few with a range moved into it.
        WizardPara& p = *gpWPara;
        fillDistinct(p);
        p.systemModeSet = 3; // derivation leaves the output presets alone in mode 3
        p.multiDetectNum = 5;
        p.rotateAngle = 180;
        p.comPort = p.amplify = 4;
        p.camSpeed = 50;
        p.tempNum = 12;
        p.minSpot = p.filterSize = 7;
        p.matchAccuracy = 10;
        p.zoomLayers = 0;
        p.colorAreaMin = 12;
        p.colorAreaMax = 3456;
        gLan = 2;
        p.SaveDatatoFile();

        const QMap<QString, QString> saved = ParamFile().rows();

        gLan = 0;
        WizardPara loaded;
        loaded.LoadDatafromFile();
        QCOMPARE(gLan, 2);
        for (const QString& key : WizardPara::storedKeys()) {
            QCOMPARE(loaded.rowValue(key), saved.value(key));
            // Every changed value came back as it was set, not only as it was written.
            QCOMPARE(loaded.rowValue(key), p.rowValue(key));
        }
        QCOMPARE(gDNum, 5);
        gLan = 0;
    }

    void emptyTableGetsNewerRowsAndDefaults()
    {
        QVERIFY(ParamFile().exec("delete from sysparam"));
        window();
        const WizardPara& p = *gpWPara;
        // The inserted rows are not parsed this run (matchAccuracy, NgShowSwitch).
        QCOMPARE(QVector<int>({p.filterSize, p.alarmArea, p.tempNum, p.offsetValue, p.minSpot, p.colorAreaMin,
                               p.motionCorrect, p.multiDetectNum, p.days, p.useDefect, p.matchAccuracy, p.NgShowSwitch}),
                 QVector<int>({3, 100, 10, 8000, 3, 1000, 0, 2, 31, 1, 5, 0}));

        ParamFile f;
        QCOMPARE(f.keys().size(), 13);
        QCOMPARE(f.get("colorArea").toString(), QString("1000 1000"));
        QCOMPARE(f.get("system12").toString(), QString("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
        QCOMPARE(f.get("isColors").toString(), QString("0 0 0 0 0 0 0 0"));
        QCOMPARE(f.get("alarmPassword").toString(), QString("9362"));
        QCOMPARE(f.get("nocheckPassword").toString(), QString("9362"));
        QVERIFY(f.get("system3").isNull());

        // The next start reads the inserted rows.
        WizardPara again;
        again.LoadDatafromFile();
        QCOMPARE(QVector<int>({again.NgShowSwitch, again.outInitState[2], again.matchAccuracy}), QVector<int>({1, 1, 0}));
    }

    void savingRecreatesDeletedRows()
    {
        window();
        QVERIFY(ParamFile().remove("system3") && ParamFile().remove("password"));
        gpWPara->amplify = 3;
        qstrcpy(gpWPara->password, "abc");
        gpWPara->SaveDatatoFile();
        ParamFile f;
        QCOMPARE(f.keys().size(), 28);
        QCOMPARE(f.get("system3").toString().split(' ').at(2), QString("3"));
        QCOMPARE(f.get("password").toString(), QString("abc"));

        // SaveChkDBItem: an existing key is left alone, a new one gets "0".
        gpWPara->SaveChkDBItem("system1");
        gpWPara->SaveChkDBItem("extraKey");
        QCOMPARE(f.get("extraKey").toString(), QString("0"));
        QCOMPARE(f.get("system1").toString(), gpWPara->rowValue("system1"));
    }

    void failedSaveLeavesTheOldSetWhole()
    {
        window();
        const QMap<QString, QString> before = ParamFile().rows();
        // One row refuses to change, half-way through the save.
        QVERIFY(ParamFile().exec("create trigger refuse before update on sysparam when new.name='system5' "
                                 "begin select raise(abort, 'refused'); end"));
        gpWPara->trigInDelay[0] = 17; // a row written before the refused one
        gpWPara->rotateAngle = 90;    // the refused row
        gpWPara->days = 45;           // a row written after it
        QVERIFY(!gpWPara->writeRows(gpWin->paraQuery));
        QCOMPARE(ParamFile().rows(), before);
        QVERIFY(ParamFile().exec("drop trigger refuse"));
        // Nothing was left half-done: the next save goes through whole.
        QVERIFY(gpWPara->writeRows(gpWin->paraQuery));
        WizardPara back;
        back.LoadDatafromFile();
        QCOMPARE(QVector<int>({back.trigInDelay[0], back.rotateAngle, back.days}), QVector<int>({17, 90, 45}));
    }

    void saveUnderAHeldLockWritesNothing()
    {
        window();
        // The station's connection gives up on a lock after 100 ms here.
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb.close();
        gpWin->paraDb.setConnectOptions("QSQLITE_BUSY_TIMEOUT=100");
        QVERIFY(gpWin->paraDb.open());
        gpWin->paraQuery = QSqlQuery(gpWin->paraDb);
        const QMap<QString, QString> before = ParamFile().rows();
        // Another program holds the write lock past the busy time-out, then lets
        // go while rows would still be written one by one.
        QSemaphore locked;
        std::thread holder([&locked] {
            ParamFile f;
            QVERIFY(f.exec("begin immediate"));
            locked.release();
            QThread::msleep(400);
            QVERIFY(f.exec("commit"));
        });
        locked.acquire();
        for (int& v : gpWPara->exposeTime)
            v = 77;
        gpWPara->days = 45;
        const bool saved = gpWPara->SaveDatatoFile();
        holder.join();
        QVERIFY(!saved);
        QCOMPARE(gpWPara->days, 45); // the edit is kept for a later try
        QCOMPARE(ParamFile().rows(), before);
    }

    void unusableFileSaysWhatIsWrong()
    {
        // One line naming the file and the driver's reason, never a row-by-row
        // "Parameter count mismatch".
        QVERIFY(m_env->writeWorkFile("bytes.db", QByteArray(4096, '\x5a')));
        QVERIFY(ParamFile("schema.db").exec("create table sysparam(id integer)"));
        for (const char* file : {"bytes.db", "schema.db"}) {
            LogCapture log;
            {
                ParamFile f(file);
                QSqlQuery q(f.db());
                WizardPara p;
                QVERIFY(!p.readRows(q));
                QVERIFY(!p.writeRows(q));
            }
            QCOMPARE(log.matching({"Parameter count mismatch"}), QStringList());
            QCOMPARE(log.matching({file}).size(), 2);
        }
        QVERIFY(m_env->writeWorkFile("config.json", "[1, 2]"));
        LogCapture log;
        WizardPara p;
        p.loadConfigFromJson();
        QCOMPARE(log.matching({"JSON is not an object."}).size(), 1);
        QCOMPARE(log.matching({"no error"}), QStringList());
    }

    void outOfRangeValuesAreReset()
    {
        // Three loads: values past their limits (read as the defaults), the
        // other side of some limits, and values at them (kept).
        const auto load = [this](const QMap<QString, QString>& rows) {
            m_win.reset();
            m_env.reset();
            m_env = std::make_unique<TestEnv>();
            for (auto it = rows.begin(); it != rows.end(); ++it)
                QVERIFY(ParamFile().set(it.key(), it.value()));
            window();
        };
        load({{"exposeTime", "-5 10000 10001 7"},
              {"system10", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 -5 0 0 0"},
              // template count -1, language 9, offset 0, screen off 29, camera speed 101, i-time -60
              {"system2", "0 -1 3 0 0 0 0 0 0 0 0 0 9 0 0 29 101 -60"},
              {"numFailDetect", "7 0 0 0 0 0 0 0"},
              {"system1", "0 0 0 1 0 0 0 0 0"},
              {"system8", "9 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
              {"system9", "0 0 0 0 0 0 0 0 5 5 0 0 0 0 0 0 0 0 0 -3"},
              {"adjustPlus", "-1 0 0 0"},
              {"numAllDetect", "10001 0 0 0 0 0 0 0"},
              {"system5", "0 0 0 0 0 0 0 0 0 181 0 0 0"},
              {"system7", "101 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"}});
        const WizardPara* p = gpWPara;
        QCOMPARE(firstOf(p->exposeTime, 4), QVector<int>({30, 10000, 30, 7}));
        QCOMPARE(QVector<int>({p->days, p->tempNum, gLan, p->offsetValue, p->scrOffTime, p->camSpeed, p->iTime,
                               p->systemMode, p->systemModeSet, gDNum, p->motionCorrect, p->multiDetectNum,
                               p->spareValue, p->adjustPlus[0], p->gamma[0], p->rotateAngle, p->comPort}),
                 QVector<int>({31, 10, 0, 8000, 600, 12, 60, 0, 0, 2, -1, 2, 0, 32, 70, 0, 0}));
        load({{"system10", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 0"},
              {"system2", "0 10 3 0 0 0 0 0 0 0 0 0 -1 0 8000 30 0 0"},
              {"system1", "0 0 0 0 0 0 0 0 0"}});
        p = gpWPara;
        QCOMPARE(QVector<int>({p->days, gLan, p->scrOffTime, p->motionCorrect}), QVector<int>({1, 0, 30, 0}));
        load({{"system2", "0 10 3 0 0 0 0 0 0 0 0 0 3 0 8000 0 0 0"}});
        QCOMPARE(QVector<int>({gLan, gpWPara->scrOffTime}), QVector<int>({3, 0}));
    }

    void badRowsReadAsZeroForTheRest()
    {
        const QVector<int> one500 = {5, 0, 0}, one00 = {1, 0, 0};
        for (const auto& [text, values] : {std::pair<QString, QVector<int>>("5 x 7", one500), {"5", one500}, {"", {0, 0}},
                                           {"1 2 3 4 5", {1, 2, 3}}, {"  -4\t 6 \n 8 ", {-4, 6, 8}},
                                           {"1 99999999999 3", one00}, {"1 2.5 3", one00}})
            QCOMPARE(WizardPara::parseValue(text, values.size()), values);

        {
            ParamFile f;
            QVERIFY(f.set("trigInDelay", "1 2 3 4 5 6 7 8 9 10"));
            QVERIFY(f.set("system4", "1 abc 500"));
            QVERIFY(f.set("exposeTime", "55"));
            QVERIFY(f.set("contrast", ""));
            QVERIFY(f.exec("update sysparam set value=NULL where name='sharp'"));
            QVERIFY(f.set("system10", "1 2 3"));
        }
        window();
        const WizardPara& p = *gpWPara;
        // filterSize unreadable and alarmArea after it: 0, then reset to defaults.
        QCOMPARE(QVector<int>({p.trigInDelay[7], p.tempAutoUpdate, p.filterSize, p.alarmArea, p.exposeTime[0],
                               p.exposeTime[1], p.contrast[0], p.sharp[0], p.customInName[2], p.days, p.resampleNoCut}),
                 QVector<int>({8, 1, 3, 100, 55, 0, 0, 0, 3, 31, 0}));

        // A garbled row is written back whole on the next save.
        gpWPara->SaveDatatoFile();
        ParamFile f;
        QCOMPARE(f.get("system4").toString(), QString("1 3 100"));
        QCOMPARE(f.get("trigInDelay").toString(), QString("1 2 3 4 5 6 7 8"));
    }

    void spareValueTakesTheLastOfItsRows()
    {
        // Kept at six positions; read from three rows in load order, the last
        // one read wins, and system14's copies are dropped.
        {
            ParamFile f;
            QVERIFY(f.set("numFailDetect", "0 0 11 0 0 0 0 0"));
            QVERIFY(f.set("system1", "0 0 22 0 0 0 0 0 0"));
            QVERIFY(f.set("system9", "0 0 0 0 0 0 0 0 5 5 0 0 0 0 0 0 0 0 0 33"));
            QVERIFY(f.set("system14", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 44 44 44"));
        }
        window();
        QCOMPARE(gpWPara->spareValue, 33);
        QVERIFY(ParamFile().set("system9", "0 0 0 0 0 0 0 0 5 5 0 0 0 0 0 0 0 0 0"));
        window();
        QCOMPARE(gpWPara->spareValue, 0); // the missing last position reads 0
        QVERIFY(ParamFile().remove("system9"));
        window();
        QCOMPARE(gpWPara->spareValue, 22); // system9 inserted, not parsed this run
    }

    void passwords()
    {
        // The row added for a missing password keeps its quotes.
        window();
        QVERIFY(ParamFile().remove("alarmPassword"));
        WizardPara fresh;
        fresh.alarmPassword = QStringLiteral("it's");
        fresh.LoadDatafromFile();
        QCOMPARE(ParamFile().get("alarmPassword").toString(), QStringLiteral("it's"));
        QCOMPARE(ParamFile().keys().size(), 28);

        // Longer than 99 bytes or not Latin-1: the old password stays. Latin-1
        // letters are kept byte for byte.
        WizardPara p;
        qstrcpy(p.password, "old");
        const QString b99(99, 'b');
        for (const auto& [stored, kept] : {std::pair<QString, QString>(QString(100, 'a'), "old"), {b99, b99},
                                           {QStringLiteral("密码"), b99}, {QStringLiteral("pässwörd"), "pässwörd"}}) {
            QVERIFY(ParamFile().set("password", stored));
            p.LoadDatafromFile();
            QCOMPARE(QString::fromLatin1(p.password), kept);
        }
        QCOMPARE(p.rowValue("password"), QStringLiteral("pässwörd"));
    }

    void modeDerivations()
    {
        // Standard.
        WizardPara p;
        int mould = 7;
        p.semiAuto = p.enableProdDetect = p.prodInspectOption = 1;
        p.deriveByMode(&mould);
        QCOMPARE(gDNum, 2);
        QCOMPARE(p.statusOutNum, 4);
        QCOMPARE(firstOf(p.detectEnabled, 2), QVector<int>({1, 1}));
        QCOMPARE(firstOf(p.outInitState + 4, 4), QVector<int>({0, 1, 1, 1})); // 4 left alone with the inspection option
        p.semiAuto = p.enableProdDetect = p.prodInspectOption = 0;
        p.ejectorPulseProdNG = 1;
        p.outInitState[4] = 1;
        p.deriveByMode(&mould);
        QCOMPARE(p.detectEnabled[0], 0);
        QCOMPARE(firstOf(p.outInitState + 4, 4), QVector<int>({0, 0, 0, 0}));
        QCOMPARE(mould, 7);

        // Two-colour: left, right, all moulds (the mould in force stays), and a
        // choice out of range reads as the left one.
        WizardPara t;
        t.systemMode = 1;
        t.enableProdDetect = 1;
        t.trigInput[2] = 42;
        struct Choice { int select, mould; QVector<int> enabled; int trig0, trig1; };
        for (const Choice& c : {Choice{0, 1, {1, 1, 0, 0}, 0, 2}, Choice{1, 0, {0, 0, 1, 1}, 3, 3},
                                Choice{2, 5, {1, 1, 1, 1}, 255, 42}, Choice{9, 1, {1, 1, 0, 0}, 0, 2},
                                Choice{-1, 1, {1, 1, 0, 0}, 0, 2}}) {
            t.moldSelect = c.select;
            mould = 5;
            t.deriveByMode(&mould);
            QCOMPARE(gDNum, 4);
            QCOMPARE(mould, c.mould);
            QCOMPARE(t.moldSelect, std::clamp(c.select, 0, 2) == c.select ? c.select : 0);
            QCOMPARE(firstOf(t.detectEnabled, 4), c.enabled);
            QCOMPARE(t.trigInput[0], c.trig0);
            QCOMPARE(t.trigInput[c.select == 2 ? 2 : 1], c.trig1); // input 2 is not set in this mode
        }

        // Turntable.
        WizardPara r;
        r.systemMode = 2;
        r.moldSelect = 1;
        r.semiAuto = 1;
        r.deriveByMode(&mould);
        QCOMPARE(firstOf(r.trigInput, 2), QVector<int>({3, 2}));
        r.semiAuto = 0;
        r.moldSelect = 3;
        r.deriveByMode(&mould);
        QCOMPARE(firstOf(r.trigInput, 2), QVector<int>({255, 255}));

        // Multi-detection: the worked example, then rows and trigger choices
        // that do not exist, which mean no detection.
        const auto multi = [](int count, std::initializer_list<int> rows, std::initializer_list<int> triggers,
                              int* mouldFlag) {
            WizardPara w;
            w.systemMode = 3;
            w.multiDetectNum = count;
            std::copy(rows.begin(), rows.end(), w.multiOutDetect);
            std::copy(triggers.begin(), triggers.end(), w.multiTrigIn);
            w.deriveByMode(mouldFlag);
            return w;
        };
        const WizardPara m = multi(3, {1, -1}, {0, 4}, &mould);
        QCOMPARE(gDNum, 3);
        QCOMPARE(m.statusOutNum, 3);
        QCOMPARE(firstOf(m.detectEnabled, 8), QVector<int>({1, 0, 1, 0, 0, 0, 0, 0}));
        QCOMPARE(firstOf(m.trigInput, 8), QVector<int>({TriginNo[4] - 1, -1, TriginNo[0] - 1, -1, -1, -1, -1, -1}));
        const WizardPara o = multi(4, {8, -2, 1, 2}, {0, 12, 7}, nullptr);
        QCOMPARE(firstOf(o.detectEnabled, 4), QVector<int>({0, 0, 0, 1}));
        QCOMPARE(firstOf(o.trigInput, 4), QVector<int>({-1, -1, -1, TriginNo[7] - 1}));

        // Through a real load: mode 1, right mould sets the main window's flag.
        QVERIFY(ParamFile().set("numFailDetect", "1 1 0 0 0 0 0 0"));
        MainState* w = window();
        QCOMPARE(w->curMould, 0);
        QCOMPARE(gDNum, 4);
        QCOMPARE(gaName[2], msg(376, 0));
    }

    void ioNamesFromNameFileAndDefaults()
    {
        QVERIFY(m_env->writeWorkFile("name.txt", QByteArray("开模\nSafety door\nBack\n")));
        window();
        QCOMPARE(QStringList(gaName, gaName + 8), QStringList({"开模", "Safety door", "Back", "", "", "", "", ""}));
        QVERIFY(QFile::remove("name.txt"));

        WizardPara p;
        p.moldInspectOption = 1;
        const auto namesAre = [&p](int mode, int lan, const QMap<int, QString>& names) {
            p.systemMode = mode;
            gLan = lan;
            p.loadIONames();
            for (auto it = names.begin(); it != names.end(); ++it)
                QCOMPARE(gaName[it.key()], it.value());
        };
        // Standard mode, English, output 4 named for the mould-cavity option.
        namesAre(0, 1, {{0, "Open"}, {1, msg(302, 1)}, {7, " O 4"}, {12, msg(304, 1)}});
        // Turntable.
        namesAre(2, 1, {{0, msg(379, 1)}, {4, msg(378, 1)}});

        // Multi-detection: names from the lists, out-of-range choices as "RSV".
        for (int k = 0; k < 8; ++k) {
            p.customInName[k] = k;
            p.customOutName[k] = 13 - k;
        }
        p.customInName[3] = 16;
        p.customOutName[7] = -1;
        namesAre(3, 0, {{0, gInName[0][0]}, {1, msg(302, 0)}, {2, gInName[1][0]}, {4, msg(304, 0)}, {8, gInName[7][0]},
                        {9, gOutName[13][0]}, {10, gOutName[12][0]}, {11, msg(307, 0)}, {12, gOutName[11][0]},
                        {17, msg(304, 0)}});
        QCOMPARE(gaName[0], QString("开模到位"));
    }

    void assignmentCommitsAndReverts()
    {
        window();
        WizardPara& live = *gpWPara;
        WizardPara& edit = *gpWParaBak;
        qstrcpy(live.password, "pw1");
        live.alarmPassword = "a1";
        live.spare9v17 = 17;
        live.curGroupName = "g";
        edit = live;
        QVERIFY(edit == live);
        QCOMPARE(edit.getCurGroupName(), QString("g"));
        // Any one difference is seen, and assigning the live set reverts it.
        const std::function<void(WizardPara&)> changes[] = {[](WizardPara& w) { w.exposeTime[6] = 4321; },
                                                            [](WizardPara& w) { w.colorAreaMin = 5; },
                                                            [](WizardPara& w) { qstrcpy(w.password, "pw2"); }};
        for (const auto& change : changes) {
            change(edit);
            QVERIFY(edit != live);
            edit = live;
            QVERIFY(edit == live);
        }
        qstrcpy(edit.password, "pw2");
        live = edit; // commit
        QCOMPARE(QString(live.password), QString("pw2"));
        QVERIFY(WizardPara(live) == live);
    }

    void groupNameFollowsDirectoriesAndSysadd()
    {
        // No paraGroup folder and no sysadd.txt.
        QDir("paraGroup").removeRecursively();
        QFile::remove("sysadd.txt");
        WizardPara p;
        p.groupIndex = 0;
        p.updateGroupName();
        QVERIFY(QDir("paraGroup").exists());
        QCOMPARE(p.getCurGroupName(), QString("default"));

        for (const char* d : {"B", "a", "C"})
            QVERIFY(QDir().mkpath(QString("paraGroup/") + d));
        QFile("paraGroup/file.txt").open(QIODevice::WriteOnly);
        const QStringList expected = {"B", "C", "a", "default", "default"};
        const int indexes[] = {0, 1, 2, 3, -1};
        for (int i = 0; i < 5; ++i) {
            p.groupIndex = indexes[i];
            p.updateGroupName();
            QCOMPARE(p.getCurGroupName(), expected[i]);
        }

        // sysadd.txt missing at load: created with -1.
        window();
        QCOMPARE(fileBytes("sysadd.txt").trimmed(), QByteArray("-1"));
        QCOMPARE(gpWPara->groupIndex, -1);

        QVERIFY(m_env->writeWorkFile("sysadd.txt", "2\n"));
        WizardPara next;
        next.LoadDatafromFile();
        QCOMPARE(qMakePair(next.groupIndex, next.getCurGroupName()), qMakePair(2, QString("a")));

        // Garbage or nothing in sysadd.txt names no group, not the first one.
        for (const char* damaged : {"xyz", ""}) {
            QVERIFY(m_env->writeWorkFile("sysadd.txt", damaged));
            next.LoadDatafromFile();
            QCOMPARE(qMakePair(next.groupIndex, next.getCurGroupName()), qMakePair(-1, QString("default")));
        }

        // A sysadd.txt that cannot be written leaves file and name alone.
        QVERIFY(QFile::remove("sysadd.txt"));
        QVERIFY(QDir().mkdir("sysadd.txt"));
        next.groupIndex = 1;
        next.SaveAddFile();
        QCOMPARE(next.getCurGroupName(), QString("default"));
        QVERIFY(QFileInfo("sysadd.txt").isDir());
    }

    void groupNameReadableWhileReplaced()
    {
        WizardPara a;
        WizardPara b;
        a.curGroupName = QString("group-a-").repeated(20);
        b.curGroupName = QString("group-b-").repeated(20);
        WizardPara target;
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        QThread* reader = QThread::create([&]() {
            while (!stop) {
                const QString n = target.getCurGroupName();
                if (n != a.curGroupName && n != b.curGroupName && n != "default")
                    ++bad;
            }
        });
        reader->start();
        for (int i = 0; i < 20000; ++i)
            target = (i & 1) ? a : b;
        stop = true;
        reader->wait();
        delete reader;
        QCOMPARE(bad.load(), 0);
    }

    void cpuDescriptionFromCpuinfo()
    {
        struct Cpu { QString model, line, series, generation; int number; };
        const Cpu cpus[] = {{"Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz", "Core", "i7", "10700", 10},
                            {"Intel(R) N100", "Core", "N", "N100", 99},
                            {"Intel(R) Celeron(R) J4125 @ 2.00GHz", "Celeron", "Celeron J4125", "", 11},
                            {"Intel(R) Pentium(R) N4200 @ 1.10GHz", "Pentium", "Pentium N4200", "", 11},
                            {"AMD Ryzen 5 5600U with Radeon Graphics", "Ryzen", "Ryzen 5", "", 5},
                            {"Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz", "Core", "i5", "8250", 8},
                            {"Intel(R) Xeon(R) CPU E5-2620 v4 @ 2.10GHz", "", "", "", 42}}; // unknown: kept
        // No file under the sim root: nothing read, nothing changed.
        WizardPara none;
        none.cpuGenerationNum = 3;
        none.loadCpuInfo();
        QVERIFY(none.cpuModelName.isEmpty() && none.cpuVendor.isEmpty());
        QCOMPARE(none.cpuGenerationNum, 3);
        for (const Cpu& c : cpus) {
            QByteArray text;
            for (int core = 0; core < 4; ++core)
                text += "processor\t: " + QByteArray::number(core) + "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
                        "model name\t: " + c.model.toUtf8() + "\nflags\t\t: fpu vme\n\n";
            // Text after a NUL byte is never read.
            text += QByteArray("\0\nmodel name : Intel(R) N100\n", 29);
            QVERIFY(m_env->writeSimFile("/proc/cpuinfo", text));
            WizardPara p;
            p.cpuGenerationNum = 42;
            p.loadCpuInfo();
            QCOMPARE(QStringList({p.cpuVendor, p.cpuModelName, p.cpuProductLine, p.cpuSeries, p.cpuGeneration}),
                     QStringList({"GenuineIntel", c.model, c.line, c.series, c.generation}));
            QCOMPARE(p.cpuGenerationNum, c.number);
        }
    }

    void configJsonAndLcdSupport()
    {
        const QByteArray model = "Intel(R) Celeron(R) J4125 CPU @ 2.00GHz";
        QVERIFY(m_env->writeSimFile("/proc/cpuinfo", "vendor_id : GenuineIntel\nmodel name : " + model + "\n"));
        const auto load = [this](WizardPara& p, const QByteArray& json) {
            if (!json.isNull())
                m_env->writeWorkFile("config.json", json);
            p.loadConfigFromJson();
            return p.isSupportLCD();
        };
        // The factory file: an empty list.
        WizardPara p;
        p.loadCpuInfo();
        QVERIFY(load(p, {}));
        QVERIFY(p.configJson.contains("not_Support_LCD_CPU"));
        // A trailing blank is no match.
        QVERIFY(load(p, "{\"not_Support_LCD_CPU\": [\"" + model + " \"]}"));
        // A garbled file leaves the object as it was.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^JSON parse error: \\S"));
        QVERIFY(load(p, "{\"not_Support_LCD_CPU\": [\"" + model + "\""));
        QCOMPARE(p.configJson.value("not_Support_LCD_CPU").toArray().size(), 1);

        // Not an object, key not an array, file missing.
        WizardPara q;
        q.loadCpuInfo();
        QTest::ignoreMessage(QtWarningMsg, "JSON is not an object.");
        QVERIFY(load(q, "[\"" + model + "\"]"));
        QVERIFY(q.configJson.isEmpty());
        QTest::ignoreMessage(QtWarningMsg, "JSON does not contain 'cpu_list' array.");
        QVERIFY(load(q, "{\"not_Support_LCD_CPU\": \"" + model + "\"}"));
        QVERIFY(!q.configJson.isEmpty());
        QVERIFY(QFile::remove("config.json"));
        WizardPara r;
        QVERIFY(load(r, {}));
        QVERIFY(r.configJson.isEmpty());

        // A config.json that cannot be read at all: reported, and the object
        // loaded before stays as it was.
        QVERIFY(!load(p, "{\"not_Support_LCD_CPU\": [\"" + model + "\"]}"));
        QVERIFY(QFile::remove("config.json"));
        QVERIFY(QDir().mkdir("config.json"));
        QTest::ignoreMessage(QtWarningMsg, "Failed to open file: \"config.json\"");
        QVERIFY(!load(p, {}));
        QVERIFY(QFileInfo("config.json").isDir());

        // A FIFO at either name holds the start-up up no more than a folder.
        const QString cpuinfo = m_env->simRoot() + "/proc/cpuinfo";
        QVERIFY(QDir().rmdir("config.json") && ::mkfifo("config.json", 0644) == 0);
        QVERIFY(QFile::remove(cpuinfo) && ::mkfifo(QFile::encodeName(cpuinfo).constData(), 0644) == 0);
        FifoRelease release({"config.json", cpuinfo});
        QElapsedTimer t;
        t.start();
        // (The simulated platform's missing processor description is said
        // once at start-up, not here.)
        QTest::ignoreMessage(QtWarningMsg, "Failed to open file: \"config.json\"");
        WizardPara s;
        s.loadCpuInfo();
        QVERIFY(load(s, {}));
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    void addColumnOnRealFile()
    {
        // That the column lands in the file and older rows keep it empty is
        // the journal's first start on the factory file; here the refusals.
        ParamFile f("RECORD.test.db");
        QSqlDatabase db = f.db();
        QSqlQuery q(db);
        QVERIFY(q.exec("create table RECORD(time text, user text, text text)"));
        QVERIFY(!columnExists(db, "RECORD", "recordtype"));
        QVERIFY(addColumnIfNotExists(db, "RECORD", "recordtype", "TEXT"));
        QVERIFY(columnExists(db, "RECORD", "recordtype"));
        QVERIFY(!columnExists(db, "RECORD", "RecordType"));
        QVERIFY(!addColumnIfNotExists(db, "RECORD", "recordtype", "TEXT"));
        QVERIFY(!addColumnIfNotExists(db, "NOSUCH", "recordtype", "TEXT"));
        QVERIFY(!addColumnIfNotExists(db, "RECORD", "x", "TEXT; drop table RECORD"));
        QVERIFY(q.exec("select text, recordtype from RECORD"));
    }

    void jsonListAndDevelopReport()
    {
        QCOMPARE(jsonArray2StringList(QJsonArray({5, "b", QJsonValue(), "c"})), QStringList({"b", "c"}));
        for (const char* ok : {"", "Sent 5\nReceived 12\n", "nothing here\n\n"})
            QVERIFY2(checkDevelop(ok), ok);
        for (const char* lost : {"Sent 5\nReceived 0\n", " Received 12", "Received x"})
            QVERIFY2(!checkDevelop(lost), lost);
    }

    void paramgenRefusesBadArguments()
    {
        auto run = [](const QStringList& args) {
            QProcess p;
            p.start(QStringLiteral(PARAMGEN_EXE), args);
            if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
                return -1;
            return p.exitCode();
        };
        // An option it does not know is no folder name.
        for (const QStringList& bad :
             {QStringList(), {"a", "b"}, {"out", "--lan", "4"}, {"out", "--lan"}, {"--bogus"}, {"out", "-x"}})
            QCOMPARE(run(bad), 2);
        QVERIFY(!QFileInfo::exists("out") && !QFileInfo::exists("--bogus"));
        // The usage asked for, as a newcomer asks: on stdout, nothing written.
        for (const QString ask : {"--help", "-h"}) {
            QProcess help;
            help.start(QStringLiteral(PARAMGEN_EXE), {ask});
            QVERIFY(help.waitForFinished(30000));
            QCOMPARE(help.exitCode(), 0);
            QVERIFY(help.readAllStandardOutput().startsWith("usage: paramgen <folder>"));
            QVERIFY(!QFileInfo::exists(ask));
        }

        // A folder that cannot be made: a file stands in the way.
        QVERIFY(m_env->writeWorkFile("blocker", "x"));
        QCOMPARE(run({"blocker/sub"}), 1);

        // The stored language is the one asked for; every other row is the
        // factory default (the build's workdir step runs this generator into
        // an empty folder; the files it leaves are read by the start-up tests).
        QCOMPARE(run({"jp", "--lan", "3"}), 0);
        // What scripts/run.sh says the screen comes up in.
        QProcess told;
        told.start(QStringLiteral(PARAMGEN_EXE), {"--language", "jp"});
        QVERIFY(told.waitForFinished(30000));
        QCOMPARE(told.readAllStandardOutput(), QByteArray("Japanese\n"));
        ParamFile f("jp/PARAM.db");
        QCOMPARE(f.get("system2").toString().split(' ').value(12), QString("3"));
        WizardPara factory;
        FactoryDefaults::apply(factory);
        for (const QString& key : WizardPara::storedKeys())
            if (key != "system2")
                QCOMPARE(f.get(key).toString(), factory.rowValue(key));
        QSqlQuery q(f.db());
        QVERIFY(q.exec("select count(*) from sqlite_master where type='table' and name like 'cammer%'") && q.next());
        QCOMPARE(q.value(0).toInt(), 8);
        QCOMPARE(gLan, 0); // the generator's language never leaks into the caller's
    }

private:
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<MainState> m_win;
    bool m_paraDbOpen = false;

    // The station's parameter start-up over the working directory's current
    // PARAM.db, on a fresh main-window state.
    MainState* window()
    {
        m_win.reset();
        m_win = std::make_unique<MainState>();
        gpWin = m_win.get();
        m_paraDbOpen = ParameterStartup::run(m_win.get());
        return m_win.get();
    }
};

QTEST_GUILESS_MAIN(TstParams)
#include "tst_params.moc"
