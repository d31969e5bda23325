#include "frame/wizardpara.h"
#include "frame/safefile.h"

#include "controller/mainstate.h"
#include "frame/dbconfighelpers.h"
#include "frame/globals.h"
#include "frame/ionames.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Guards curGroupName: the statistics worker reads it while the GUI thread
// may replace it (group switch, commit of the edit copy).
QMutex& groupNameMutex()
{
    static QMutex mutex;
    return mutex;
}

// One value position of a sysparam row: where loading puts it (null: read and
// dropped) and where saving takes it from.
struct Slot {
    int* load;
    const int* save;
};

enum class RowKind { Numbers, OperatorPassword, TextPassword };

// What loading does when a key has no row.
enum class WhenMissing { Keep, InsertDefault, InsertCurrent };

struct Row {
    const char* key;
    int loadOrder; // rows are read in this order, written in table order
    RowKind kind;
    QVector<Slot> positions;      // RowKind::Numbers
    QString* text = nullptr;  // RowKind::TextPassword
    WhenMissing missing = WhenMissing::Keep;
    const char* insertValue = nullptr; // WhenMissing::InsertDefault
};

const char* const kTwentyZeros = "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0";

// The one layout of the sysparam table, shared by loading, saving and
// comparing: key, value positions in order, and the fields behind them.
QVector<Row> rowMap(WizardPara& p)
{
    auto one = [](int& f) { return Slot{&f, &f}; };
    auto drop = [](const int& f) { return Slot{nullptr, &f}; };
    auto span = [](QVector<Slot>& s, int* a, int from, int count) {
        for (int i = from; i < from + count; ++i)
            s.append(Slot{&a[i], &a[i]});
    };
    // insertValue: the row a database without this key gets at load.
    auto numbers = [](const char* key, int order, QVector<Slot> s, const char* insertValue = nullptr) {
        Row r;
        r.key = key;
        r.loadOrder = order;
        r.kind = RowKind::Numbers;
        r.positions = std::move(s);
        if (insertValue) {
            r.missing = WhenMissing::InsertDefault;
            r.insertValue = insertValue;
        }
        return r;
    };

    QVector<Row> rows;
    QVector<Slot> s;

    s.clear(); span(s, p.trigInDelay, 0, 8);
    rows.append(numbers("trigInDelay", 1, s));
    s.clear(); span(s, p.exposeTime, 0, 4);
    rows.append(numbers("exposeTime", 2, s));
    s.clear(); span(s, p.sharp, 0, 4);
    rows.append(numbers("sharp", 12, s));
    s.clear(); span(s, p.contrast, 0, 4);
    rows.append(numbers("contrast", 13, s));
    s.clear(); span(s, p.adjustPlus, 0, 4);
    rows.append(numbers("adjustPlus", 3, s));

    // Position 1 is saved from the chosen mode and loaded into the mode in
    // force; the choice takes effect at the next start.
    rows.append(numbers("numFailDetect", 4,
                        {Slot{&p.systemMode, &p.systemModeSet}, one(p.moldSelect), one(p.spareValue),
                         one(p.autoShading), one(p.useColorSpots), one(p.useBlackArea),
                         one(p.useWhiteArea), one(p.useSimilarity)}));
    s.clear(); span(s, p.gamma, 0, 8);
    rows.append(numbers("numAllDetect", 5, s));
    rows.append(numbers("isPswUsed", 6, {one(p.isPswUsed)}));
    {
        Row r;
        r.key = "password";
        r.loadOrder = 7;
        r.kind = RowKind::OperatorPassword;
        rows.append(r);
    }
    rows.append(numbers("system1", 8,
                        {one(p.semiAuto), one(p.enableProdDetect), one(p.spareValue), one(p.motionCorrect),
                         one(p.stopClampOnStop), one(p.preCut), one(p.reCheckTimes), one(p.okRecNum),
                         one(p.rectToIrregular)}));
    rows.append(numbers("system2", 9,
                        {one(p.cutEjectorOnClamp), one(p.tempNum), one(p.minSpot), one(p.ngRecNum),
                         one(p.ejectorPulse), one(p.clampPulse), one(p.ejectorPulseProdNG),
                         one(p.cutClampFixedTime), one(p.noEjectorCtrlProd), one(p.nocheckPswUsed),
                         one(p.addTempPswUsed), one(p.camDisconnect), one(gLan), one(p.out4Use),
                         one(p.offsetValue), one(p.scrOffTime), one(p.camSpeed), one(p.iTime)}));
    rows.append(numbers("system3", 10,
                        {one(p.in4Use), one(p.doorLiftAlarm), one(p.amplify), one(p.useDefect),
                         one(p.useSpot), one(p.useIgnoreArea), one(p.useManualLocate), one(p.showAllParam),
                         one(p.autoLogout), one(p.spare3v10), one(p.doorTrigDetect)}));
    rows.append(numbers("system4", 11, {one(p.tempAutoUpdate), one(p.filterSize), one(p.alarmArea)}));

    s.clear();
    span(s, p.exposeTime, 4, 2);
    span(s, p.adjustPlus, 4, 2);
    span(s, p.sharp, 4, 2);
    span(s, p.contrast, 4, 2);
    s << one(p.okNgPulses) << one(p.rotateAngle) << one(p.cutEjectorOnProdDetect) << one(p.extTrigger)
      << one(p.cutClampOnMoldDetect);
    rows.append(numbers("system5", 14, s));

    s.clear();
    span(s, p.exposeTime, 6, 2);
    span(s, p.adjustPlus, 6, 2);
    span(s, p.sharp, 6, 2);
    span(s, p.contrast, 6, 2);
    s << one(p.shakeEraseTime) << one(p.useStatistics) << one(p.spare6v11) << one(p.stopDetectPswUsed);
    rows.append(numbers("system6", 15, s));

    s.clear();
    s << one(p.comPort) << one(p.colorCamera) << one(p.grayChannel) << one(p.showManualSnap)
      << one(p.outInitState[0]) << one(p.outInitState[1]) << one(p.outInitState[2]) << one(p.noLensOpt)
      << one(p.outInitState[3]) << one(p.showFactoryParam) << one(p.spare7v11) << one(p.spare7v12)
      << one(p.realTimeROI) << one(p.camSampleSeparately);
    span(s, p.outInitState, 4, 5);
    s << one(p.useWhiteNumber);
    rows.append(numbers("system7", 16, s, "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"));

    s.clear();
    s << one(p.multiDetectNum);
    span(s, p.multiTrigIn, 0, 8);
    span(s, p.multiCutMode, 0, 8);
    s << one(p.cutEjectorFixedTime) << one(p.useLog) << one(p.matchBrightness);
    rows.append(numbers("system8", 17, s, kTwentyZeros));

    s.clear();
    span(s, p.multiOutDetect, 0, 8);
    s << one(p.matchAccuracy) << one(p.zoomLayers) << one(p.outOnMoldCavity) << one(p.out4Pulse)
      << one(p.continuationArea) << one(p.noDetectModeSignal) << one(p.prodDetectOption)
      << one(p.continuousCopy) << one(p.spare9v17) << one(p.inputResetRecheck) << one(p.spare9v19)
      << one(p.spareValue);
    rows.append(numbers("system9", 18, s, kTwentyZeros));

    s.clear();
    span(s, p.customInName, 0, 8);
    span(s, p.customOutName, 0, 8);
    s << one(p.days) << one(p.lostUpanAlarm) << one(p.useDiskSaveImage) << one(p.resampleNoCut);
    rows.append(numbers("system10", 19, s, kTwentyZeros));

    s.clear();
    span(s, p.spare11a, 0, 8);
    span(s, p.spare11b, 0, 8);
    s << one(p.sequentialDetect) << one(p.tempIsNG[0]) << one(p.tempIsNG[1]) << one(p.noEjectorPin);
    rows.append(numbers("system11", 20, s, kTwentyZeros));

    s.clear();
    s << one(p.angleCorrect);
    span(s, p.hMirror, 0, 8);
    span(s, p.vMirror, 0, 8);
    s << one(p.noRefreshAfterAlarm) << one(p.addAllCamTemp) << one(p.separateDetectSignal);
    rows.append(numbers("system12", 21, s, kTwentyZeros));

    s.clear();
    span(s, p.saturation, 0, 8);
    span(s, p.noise3D, 0, 8);
    s << one(p.useBlackNumber) << one(p.prodNGOption) << one(p.reInspectDelay) << one(p.shieldPin);
    rows.append(numbers("system13", 22, s, kTwentyZeros));

    s.clear();
    s << one(p.moldNGClampPulse) << one(p.reCheckDelay) << one(p.okMoldNum) << one(p.imageZoom)
      << one(p.noAlarmSound) << one(p.polygonStartPoint);
    span(s, p.noise2D, 0, 8);
    s << one(p.stopDetectCutOff) << one(p.prodInspectOption) << one(p.moldInspectOption)
      << drop(p.spareValue) << drop(p.spareValue) << drop(p.spareValue);
    rows.append(numbers("system14", 23, s, kTwentyZeros));

    {
        Row r;
        r.key = "alarmPassword";
        r.loadOrder = 25;
        r.kind = RowKind::TextPassword;
        r.text = &p.alarmPassword;
        r.missing = WhenMissing::InsertCurrent;
        rows.append(r);
        r.key = "nocheckPassword";
        r.loadOrder = 26;
        r.text = &p.nocheckPassword;
        rows.append(r);
    }
    rows.append(numbers("NgShowSwitch", 27, {one(p.NgShowSwitch)}, "1"));

    s.clear(); span(s, p.isColors, 0, 8);
    rows.append(numbers("isColors", 24, s, "0 0 0 0 0 0 0 0"));

    // The colour-spot area limits survive a restart; files without the row
    // get the validated defaults.
    rows.append(numbers("colorArea", 28, {one(p.colorAreaMin), one(p.colorAreaMax)}, "1000 1000"));

    return rows;
}

QString operatorPasswordText(const char* password)
{
    return QString::fromLatin1(password, int(qstrnlen(password, 100)));
}

// Text of one row, the form it has in the table.
QString rowText(const Row& r, const WizardPara& p)
{
    switch (r.kind) {
    case RowKind::OperatorPassword:
        return operatorPasswordText(p.password);
    case RowKind::TextPassword:
        return *r.text;
    case RowKind::Numbers:
        break;
    }
    QStringList parts;
    parts.reserve(r.positions.size());
    for (const Slot& s : r.positions)
        parts << QString::number(*s.save);
    return parts.join(QLatin1Char(' '));
}

// Why the parameter database behind q cannot be read or written, or an empty
// text: no connection, not an SQLite file, locked, or a sysparam table
// without its two columns.
QString parameterDbProblem(QSqlQuery& q)
{
    const auto fileName = [&q] {
        for (const QString& c : QSqlDatabase::connectionNames()) {
            const QSqlDatabase db = QSqlDatabase::database(c, false);
            if (db.driver() == q.driver())
                return db.databaseName();
        }
        return QStringLiteral("parameter database");
    };
    if (!q.driver() || !q.driver()->isOpen())
        return fileName() + QStringLiteral(" is not open");
    if (!q.exec(QStringLiteral("select count(*) from sqlite_master")) || !q.next()) {
        const QString why = q.lastError().text();
        q.finish();
        return fileName() + QStringLiteral(" cannot be read: ") + why;
    }
    q.finish();
    if (!q.exec(QStringLiteral("create table if not exists sysparam(name text, value text)")))
        return fileName() + QStringLiteral(" cannot hold its table: ") + q.lastError().text();
    if (!q.exec(QStringLiteral("select name, value from sysparam limit 1"))) {
        const QString why = q.lastError().text();
        q.finish();
        return fileName() + QStringLiteral(": table sysparam has the wrong columns: ") + why;
    }
    q.finish();
    return QString();
}

// Unsigned range tests: a negative value counts as too large.
inline bool atMost(int v, unsigned max) { return unsigned(v) <= max; }
inline bool within(int v, unsigned lo, unsigned hi) { return unsigned(v) >= lo && unsigned(v) <= hi; }

QString message(int m, int lan)
{
    return gaLanStr[4 * m + lan];
}

// Written beside and renamed over, so a power loss never leaves an empty
// file (which would read as group 0).
bool writeGroupIndex(int index)
{
    QSaveFile f(QStringLiteral("sysadd.txt"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(QByteArray::number(index) + '\n');
    if (f.commit())
        return true;
    qWarning() << "sysadd.txt not written:" << f.errorString();
    return false;
}

} // namespace

WizardPara::AssignLock& WizardPara::AssignLock::operator=(const AssignLock&)
{
    groupNameMutex().lock();
    return *this;
}

WizardPara::AssignUnlock& WizardPara::AssignUnlock::operator=(const AssignUnlock&)
{
    groupNameMutex().unlock();
    return *this;
}

WizardPara::WizardPara()
{
    semiAuto = 0;
    colorAreaMin = 0;
    colorAreaMax = 1000;
    matchAccuracy = 5;
    zoomLayers = 5;
    noEjectorPin = 0;
    resampleNoCut = 1;
    std::fill(std::begin(detectEnabled), std::end(detectEnabled), 0);
    detectEnabled[1] = 1;
    trigInput[0] = 0;
    multiDetectNum = 2;
    days = 31;
    nocheckPassword = QStringLiteral("9362");
    alarmPassword = QStringLiteral("9362");
    curGroupName = QStringLiteral("default");
    groupDir = QDir(QString());
}

WizardPara::~WizardPara() = default;

bool WizardPara::operator==(const WizardPara& o) const
{
    WizardPara& self = const_cast<WizardPara&>(*this);
    WizardPara& other = const_cast<WizardPara&>(o);
    const QVector<Row> mine = rowMap(self);
    const QVector<Row> theirs = rowMap(other);
    for (int i = 0; i < mine.size(); ++i) {
        if (rowText(mine[i], *this) != rowText(theirs[i], o))
            return false;
    }
    if (!std::equal(std::begin(trigInput), std::end(trigInput), std::begin(o.trigInput))
        || !std::equal(std::begin(detectEnabled), std::end(detectEnabled), std::begin(o.detectEnabled))
        || !std::equal(std::begin(tempIsNG), std::end(tempIsNG), std::begin(o.tempIsNG)))
        return false;
    return colorAreaMin == o.colorAreaMin && colorAreaMax == o.colorAreaMax && statusOutNum == o.statusOutNum
        && systemMode == o.systemMode && groupIndex == o.groupIndex && getCurGroupName() == o.getCurGroupName();
}

QStringList WizardPara::storedKeys()
{
    WizardPara scratch;
    QStringList keys;
    for (const Row& r : rowMap(scratch))
        keys << QLatin1String(r.key);
    return keys;
}

QString WizardPara::rowValue(const QString& key) const
{
    WizardPara& self = const_cast<WizardPara&>(*this);
    for (const Row& r : rowMap(self)) {
        if (key == QLatin1String(r.key))
            return rowText(r, *this);
    }
    return QString();
}

QVector<int> WizardPara::parseValue(const QString& value, int positions)
{
    QVector<int> out(positions, 0);
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = value.split(blanks, Qt::SkipEmptyParts);
    for (int i = 0; i < positions && i < words.size(); ++i) {
        bool ok = false;
        const int v = words[i].toInt(&ok, 10);
        if (!ok)
            break; // the rest of the row reads as 0
        out[i] = v;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

namespace {
std::atomic<bool> g_storedSetUnread{false};
} // namespace

void WizardPara::LoadDatafromFile()
{
    // The current parameter group; a missing sysadd.txt is created as "none".
    groupIndex = -1;
    {
        QFile f(QStringLiteral("sysadd.txt"));
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&f);
            int index = -1;
            in >> index;
            // A damaged file names no group: the settings in force cannot be
            // told to belong to one.
            if (in.status() != QTextStream::Ok)
                index = -1;
            groupIndex = index;
        } else {
            writeGroupIndex(groupIndex);
        }
    }
    updateGroupName();

    // A set that could not be read (file locked at start) must not be
    // saved later: the save would put the defaults over the operator's set.
    g_storedSetUnread = !(gpWin && readRows(gpWin->paraQuery));
    if (!gpWin)
        qWarning() << "parameters: no main window, the stored parameters are not read";

    validate();
    deriveByMode(gpWin ? &gpWin->curMould : nullptr);
    loadIONames();
}

bool WizardPara::readRows(QSqlQuery& q)
{
    // One line naming the file and the driver's reason, instead of one
    // "Parameter count mismatch" per row from statements that never prepared.
    const QString unusable = parameterDbProblem(q);
    if (!unusable.isEmpty()) {
        qCritical().noquote() << "parameters:" << unusable << "- the defaults stay in force";
        return false;
    }
    QVector<Row> rows = rowMap(*this);
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.loadOrder < b.loadOrder; });

    bool allRan = true;
    for (const Row& r : rows) {
        const QString key = QLatin1String(r.key);
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(key);
        if (!q.exec()) {
            qWarning() << "parameters: cannot read" << key << q.lastError().text();
            allRan = false;
            continue; // the fields keep their values
        }
        if (!q.next()) {
            q.finish();
            QString insertValue;
            switch (r.missing) {
            case WhenMissing::Keep:
                continue;
            case WhenMissing::InsertDefault:
                insertValue = QLatin1String(r.insertValue);
                break;
            case WhenMissing::InsertCurrent:
                insertValue = rowText(r, *this);
                break;
            }
            // Inserted rows are not parsed: this run keeps the constructed
            // values, the inserted ones apply from the next load.
            q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
            q.addBindValue(key);
            q.addBindValue(insertValue);
            if (!q.exec())
                qWarning() << "parameters: cannot add row" << key << q.lastError().text();
            q.finish();
            continue;
        }
        const QString value = q.value(0).toString();
        q.finish();

        switch (r.kind) {
        case RowKind::OperatorPassword: {
            const QByteArray latin = value.toLatin1();
            if (value.size() >= int(sizeof password)) {
                // Too long for the field: the password in force stays.
            } else if (QString::fromLatin1(latin) != value) {
                // Characters outside Latin-1 cannot be held; taking them as
                // '?' would store a password nobody can type.
                qWarning() << "parameters: operator password not readable, kept";
            } else {
                std::memset(password, 0, sizeof password);
                std::memcpy(password, latin.constData(), size_t(latin.size()));
            }
            break;
        }
        case RowKind::TextPassword:
            *r.text = value;
            break;
        case RowKind::Numbers: {
            const QVector<int> v = parseValue(value, r.positions.size());
            for (int i = 0; i < r.positions.size(); ++i) {
                if (r.positions[i].load)
                    *r.positions[i].load = v[i];
            }
            break;
        }
        }
    }
    return allRan;
}

void WizardPara::validate()
{
    for (int c = 0; c < 8; ++c) {
        if (!atMost(exposeTime[c], 10000)) exposeTime[c] = 30;
        if (!atMost(adjustPlus[c], 10000)) adjustPlus[c] = 32;
        if (!atMost(sharp[c], 10000)) sharp[c] = 0;
        if (!atMost(contrast[c], 10000)) contrast[c] = 50;
        if (!atMost(gamma[c], 10000)) gamma[c] = 70;
    }
    if (!within(multiDetectNum, 2, 8)) multiDetectNum = 2;
    if (!atMost(systemMode, 3)) systemMode = 0;
    systemModeSet = systemMode;
    if (!atMost(preCut, 10000)) preCut = 0;
    if (!atMost(reCheckTimes, 10000)) reCheckTimes = 0;
    if (!within(filterSize, 1, 100)) filterSize = 3;
    if (!within(alarmArea, 1, 1000)) alarmArea = 100;
    if (!within(colorAreaMin, 1, 99999)) colorAreaMin = 1000;
    if (!within(colorAreaMax, 1, 99999)) colorAreaMax = 1000;
    if (!atMost(matchAccuracy, 10)) matchAccuracy = 5;
    if (!atMost(zoomLayers, 10)) zoomLayers = 5;
    if (!within(tempNum, 1, 100)) tempNum = 10;
    if (!atMost(ngRecNum, 20000)) ngRecNum = 0;
    if (!atMost(okRecNum, 20000)) okRecNum = 0;
    if (!atMost(ejectorPulse, 10000)) ejectorPulse = 0;
    if (!atMost(clampPulse, 10000)) clampPulse = 0;
    if (motionCorrect != -1 && motionCorrect != 0) motionCorrect = -1;
    if (!atMost(rotateAngle, 180)) rotateAngle = 0;
    if (!atMost(autoLogout, 10000)) autoLogout = 0;
    if (!atMost(amplify, 4)) amplify = 0;
    if (!within(offsetValue, 1, 8255)) offsetValue = 8000;
    if (scrOffTime != 0 && !within(scrOffTime, 30, 9999)) scrOffTime = 600;
    if (!atMost(camSpeed, 100)) camSpeed = 12;
    if (!atMost(iTime, 100000000)) iTime = 60;
    if (!atMost(gLan, 3)) gLan = 0;
    if (!atMost(comPort, 100)) comPort = 0;
    if (!within(minSpot, 1, 100)) minSpot = 3;
    if (days < 1) days = 31;
    if (!atMost(spareValue, 100000000)) spareValue = 0;

    if (!useDefect && !useSpot && !useBlackArea && !useWhiteArea && !useWhiteNumber && !useBlackNumber
        && !useSimilarity && !useColorSpots)
        useDefect = 1;
}

void WizardPara::deriveByMode(int* mouldFlag)
{
    const int m = systemMode;
    if (m == 0) {
        statusOutNum = 4;
        gDNum = 2;
        trigInput[0] = 0;
        trigInput[1] = semiAuto ? 2 : 0;
        detectEnabled[0] = enableProdDetect;
        detectEnabled[1] = 1;
        const int preset = ejectorPulseProdNG ? 0 : 1;
        outInitState[5] = outInitState[6] = outInitState[7] = preset;
        if (!prodInspectOption)
            outInitState[4] = preset;
    } else if (m == 3) {
        gDNum = statusOutNum = multiDetectNum;
        for (int d = 0; d < 8; ++d) {
            const int r = multiOutDetect[d];
            // A row or trigger choice outside the tables counts as "none"
            // rather than reading past them.
            const bool rowOk = d < multiDetectNum && r != -1 && within(r, 0, 7) && within(multiTrigIn[r], 0, 7);
            if (rowOk) {
                detectEnabled[d] = 1;
                trigInput[d] = TriginNo[multiTrigIn[r]] - 1;
            } else {
                detectEnabled[d] = 0;
                trigInput[d] = -1;
            }
        }
    } else { // 1 two-colour, 2 turntable
        statusOutNum = 4;
        gDNum = 4;
        if (!atMost(moldSelect, 3))
            moldSelect = 0;
        const int on = enableProdDetect ? 1 : 0;
        int b = 255;
        if (moldSelect == 0) {
            detectEnabled[0] = on; detectEnabled[1] = 1; detectEnabled[2] = 0; detectEnabled[3] = 0;
            if (mouldFlag) *mouldFlag = 1;
            b = 0;
        } else if (moldSelect == 1) {
            detectEnabled[0] = 0; detectEnabled[1] = 0; detectEnabled[2] = on; detectEnabled[3] = 1;
            if (mouldFlag) *mouldFlag = 0;
            b = 3;
        } else {
            detectEnabled[0] = on; detectEnabled[1] = 1; detectEnabled[2] = on; detectEnabled[3] = 1;
        }
        if (m == 1) {
            if (moldSelect == 0) {
                trigInput[0] = 0;
                trigInput[1] = 2;
            } else {
                trigInput[0] = b;
                trigInput[1] = b;
            }
        } else {
            trigInput[0] = b;
            trigInput[1] = semiAuto ? 2 : b;
        }
    }
}

void WizardPara::loadIONames() const
{
    const int lan = atMost(gLan, 3) ? gLan : 0;
    QFile f(QStringLiteral("name.txt"));
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&f);
        in.setCodec("UTF-8");
        for (int i = 0; i < 8; ++i)
            gaName[i] = in.atEnd() ? QString() : in.readLine();
        return;
    }

    const QString rsv = message(304, lan);
    for (QString& n : gaName)
        n = rsv;
    switch (systemMode) {
    case 0:
        gaName[0] = message(301, lan);
        gaName[1] = message(302, lan);
        gaName[2] = message(303, lan);
        gaName[3] = message(304, lan);
        gaName[4] = message(305, lan);
        gaName[5] = message(306, lan);
        gaName[6] = message(307, lan);
        gaName[7] = moldInspectOption ? QStringLiteral(" O 4") : message(304, lan);
        break;
    case 1:
        gaName[0] = message(301, lan);
        gaName[1] = message(302, lan);
        gaName[2] = message(376, lan);
        gaName[3] = message(377, lan);
        gaName[4] = message(305, lan);
        gaName[5] = message(378, lan);
        gaName[6] = message(307, lan);
        gaName[7] = message(304, lan);
        break;
    case 2:
        gaName[0] = message(379, lan);
        gaName[1] = message(380, lan);
        gaName[2] = message(381, lan);
        gaName[3] = message(382, lan);
        gaName[4] = message(378, lan);
        gaName[5] = message(306, lan);
        gaName[6] = message(307, lan);
        gaName[7] = message(304, lan);
        break;
    case 3: {
        // A stored choice outside the name lists shows "RSV" instead of
        // reading past them.
        auto inName = [&](int i) { return within(i, 0, kInNameCount - 1) ? gInName[i][lan] : rsv; };
        auto outName = [&](int i) { return within(i, 0, kOutNameCount - 1) ? gOutName[i][lan] : rsv; };
        gaName[0] = inName(customInName[0]);
        gaName[1] = message(302, lan);
        for (int k = 1; k < 8; ++k)
            gaName[1 + k] = inName(customInName[k]);
        gaName[9] = outName(customOutName[0]);
        gaName[10] = outName(customOutName[1]);
        gaName[11] = message(307, lan);
        for (int k = 2; k < 8; ++k)
            gaName[10 + k] = outName(customOutName[k]);
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Saving and the parameter group
// ---------------------------------------------------------------------------

bool WizardPara::SaveDatatoFile()
{
    if (!gpWin) {
        qWarning() << "parameters: no main window, not saved";
        return false;
    }
    if (g_storedSetUnread) {
        qCritical() << "parameters not saved: the stored set could not be read at the last load, and saving"
                       " would replace it with these values; load it again first";
        return false;
    }
    return writeRows(gpWin->paraQuery);
}

bool WizardPara::writeRows(QSqlQuery& q) const
{
    const QString unusable = parameterDbProblem(q);
    if (!unusable.isEmpty()) {
        qCritical().noquote() << "parameters not saved:" << unusable;
        return false;
    }
    WizardPara& self = const_cast<WizardPara&>(*this);
    // One transaction: a power loss in the middle leaves the old set, never
    // a mix of old and new rows. Without it (another connection holds the
    // write lock past the busy time-out) nothing is written: the edit stays
    // in memory and the caller hears of the failure.
    if (!q.exec(QStringLiteral("begin immediate transaction"))) {
        qCritical().noquote() << "parameters not saved: the parameter database is busy or read-only:"
                              << q.lastError().text();
        return false;
    }
    bool ok = true;
    for (const Row& r : rowMap(self)) {
        const QString key = QLatin1String(r.key);
        const QString value = rowText(r, *this);
        if (!writeNameValueRow(q, QStringLiteral("sysparam"), key, value)) {
            qWarning() << "parameters: cannot save" << key << q.lastError().text();
            ok = false;
        }
    }
    q.finish();
    if (ok && q.exec(QStringLiteral("commit")))
        return true;
    if (ok)
        qCritical() << "parameters not saved: commit failed" << q.lastError().text();
    q.exec(QStringLiteral("rollback"));
    return false;
}

void WizardPara::SaveChkDBItem(const QString& key)
{
    if (!gpWin)
        return;
    QSqlQuery& q = gpWin->paraQuery;
    q.prepare(QStringLiteral("select value from sysparam where name=?"));
    q.addBindValue(key);
    if (q.exec() && q.next()) {
        q.finish();
        return;
    }
    q.finish();
    q.prepare(QStringLiteral("insert into sysparam values(?, '0')"));
    q.addBindValue(key);
    if (!q.exec())
        qWarning() << "parameters: cannot add row" << key << q.lastError().text();
    q.finish();
}

void WizardPara::SaveAddFile()
{
    if (writeGroupIndex(groupIndex))
        updateGroupName();
}

void WizardPara::updateGroupName()
{
    QDir dir(QStringLiteral("./paraGroup"));
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    const QStringList groups = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    const QString name = (groupIndex >= 0 && groupIndex < groups.size()) ? groups.at(groupIndex)
                                                                          : QStringLiteral("default");
    QMutexLocker lock(&groupNameMutex());
    groupDir = dir;
    curGroupName = name;
}

QString WizardPara::getCurGroupName() const
{
    QMutexLocker lock(&groupNameMutex());
    return curGroupName;
}

// ---------------------------------------------------------------------------
// Hardware description
// ---------------------------------------------------------------------------

void WizardPara::loadCpuInfo()
{
    // Regular files only, opened without waiting: a FIFO laid at either
    // name must not hold the start-up.
    QFile f;
    if (!openRegularFile(f, platform::path(QStringLiteral("/proc/cpuinfo")))) {
        // The simulated platform names what it lacks once at start-up.
        if (!platform::isSimulated())
            qWarning() << "Failed to open /proc/cpuinfo";
        return;
    }
    QByteArray raw = f.readAll();
    f.close();
    const int nul = raw.indexOf('\0');
    if (nul >= 0)
        raw.truncate(nul);
    const QStringList lines = QString::fromUtf8(raw).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    static const QRegularExpression reN(QStringLiteral("Intel\\(R\\)\\s+(\\w+\\d{1,5})"));
    static const QRegularExpression reCore(QStringLiteral("Intel\\(R\\)\\s+(\\w+)\\(TM\\)\\s+(\\w+)-(\\w+\\d{1,5})"));
    static const QRegularExpression reCeleronPentium(
        QStringLiteral("Intel\\(R\\)\\s+(Celeron|Pentium)\\(R\\)\\s+(\\w+)\\s+@"));
    static const QRegularExpression reRyzen(QStringLiteral("AMD\\s+(Ryzen\\s+\\w+)\\s+(\\d{1,4})"));

    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("vendor_id"))) {
            cpuVendor = line.mid(line.indexOf(QLatin1Char(':')) + 1).trimmed();
            continue;
        }
        if (!line.startsWith(QLatin1String("model name")))
            continue;
        cpuModelName = line.mid(line.indexOf(QLatin1Char(':')) + 1).trimmed();

        QRegularExpressionMatch m = reN.match(cpuModelName);
        if (m.hasMatch()) {
            if (m.captured(1).startsWith(QLatin1Char('N'))) {
                cpuProductLine = QStringLiteral("Core");
                cpuSeries = QStringLiteral("N");
                cpuGeneration = m.captured(1);
                cpuGenerationNum = 99;
            }
            continue;
        }
        m = reCore.match(cpuModelName);
        if (m.hasMatch()) {
            cpuProductLine = m.captured(1);
            cpuSeries = m.captured(2);
            cpuGeneration = m.captured(3);
            if (cpuGeneration.startsWith(QLatin1Char('N'))) {
                cpuGenerationNum = 99;
            } else {
                bool ok = false;
                const int n = cpuGeneration.left(cpuGeneration.size() - 3).toInt(&ok, 10);
                cpuGenerationNum = ok ? n : 0;
            }
            continue;
        }
        m = reCeleronPentium.match(cpuModelName);
        if (m.hasMatch()) {
            cpuProductLine = m.captured(1);
            cpuSeries = cpuProductLine + QLatin1Char(' ') + m.captured(2);
            const QLatin1Char newer(cpuProductLine == QLatin1String("Celeron") ? 'J' : 'N');
            if (m.captured(2).startsWith(newer))
                cpuGenerationNum = 11;
            continue;
        }
        m = reRyzen.match(cpuModelName);
        if (m.hasMatch()) {
            cpuProductLine = QStringLiteral("Ryzen");
            cpuSeries = m.captured(1);
            cpuGenerationNum = m.captured(2).left(1).toInt();
        }
    }

    qInfo() << "Vendor:" << cpuVendor;
    qInfo() << "Model Name:" << cpuModelName;
    qInfo() << "Product Line:" << cpuProductLine;
    qInfo() << "Series:" << cpuSeries;
    qInfo() << "Generation:" << cpuGeneration;
    qInfo() << "Generation:" << cpuGenerationNum;
}

void WizardPara::loadConfigFromJson()
{
    const QString fileName = QStringLiteral("config.json");
    QFile f;
    if (!openRegularFile(f, fileName)) {
        qWarning() << "Failed to open file:" << fileName;
        return;
    }
    const QByteArray data = f.readAll();
    f.close();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << "JSON parse error:" << error.errorString();
        return;
    }
    if (!doc.isObject()) {
        qWarning() << "JSON is not an object.";
        return;
    }
    configJson = doc.object();

    const QJsonValue list = configJson.value(QStringLiteral("not_Support_LCD_CPU"));
    if (!list.isArray()) {
        qWarning() << "JSON does not contain 'cpu_list' array.";
        return;
    }
    qInfo() << "CPU List:";
    for (const QJsonValue& v : list.toArray()) {
        if (v.isString())
            qInfo() << " -" << v.toString();
    }
}

bool WizardPara::isSupportLCD() const
{
    const QJsonValue list = configJson.value(QStringLiteral("not_Support_LCD_CPU"));
    const QStringList models = jsonArray2StringList(list.isArray() ? list.toArray() : QJsonArray());
    return !models.contains(cpuModelName, Qt::CaseSensitive);
}
