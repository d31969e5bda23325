#include "records/resstatisticsparam.h"

#include "frame/databasefile.h"
#include "frame/globals.h"
#include "records/resstatisticsdatabase.h"
#include "frame/clock.h"
#include "records/statisticstime.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <unistd.h>

ResStatisticsParam* ResStatisticsParam::instance = nullptr;

ResStatisticsParam* ResStatisticsParam::getInstance()
{
    if (!instance)
        instance = new ResStatisticsParam;
    return instance;
}

void ResStatisticsParam::destroyInstance()
{
    if (!instance)
        return;
    instance->shutdown();
    delete instance;
    instance = nullptr;
}

ResStatisticsParam::ResStatisticsParam(QObject* parent)
    : QObject(parent)
{
    registerStatisticsMetaTypes();
}

ResStatisticsParam::~ResStatisticsParam()
{
    shutdown();
    if (instance == this)
        instance = nullptr;
}

void ResStatisticsParam::init(QString group, int detectCount)
{
    paramGroup = group.isEmpty() ? QStringLiteral("default") : group;
    detectNum = detectCount;
    laodConfig();

    m_thread = new QThread;
    dbWorker = new ResStatisticsDatabase(this, nullptr);
    // A kill between the archive and the new start time leaves a fresh live
    // file and a settings file that still names the archived day: move on to
    // the current day before anything is loaded, since loading a fresh file
    // writes a document of the day the settings name into it. The archive
    // is looked for first: an ordinary start has none, and needs no second
    // opening of the live file.
    if (ResStatisticsDatabase::archiveExists(getCurDBDate())
        && ResStatisticsDatabase::isFreshFile(ResStatisticsDatabase::liveFile())) {
        createNewTime();
        saveConfig();
    }
    QJsonObject doc;
    m_unreadLive = dbWorker->liveBusyAtStart;
    if (!m_unreadLive)
        dbWorker->loadCountFromJson(ResStatisticsDatabase::liveFile(), doc);

    // A kill between the new start time and the archive leaves the old day in
    // the live file: archive it under its own date instead of merging it into
    // the new day.
    QString docDate = doc.value(QStringLiteral("date")).toString();
    if (!docDate.isEmpty() && !ResStatisticsDatabase::isPlausibleDay(docDate)) {
        // A date that is no day of this station must not name a file nor
        // become today: the document is kept aside and the day starts from
        // the clock.
        qWarning().noquote() << "statistics: the live file holds a document dated" << docDate.left(40)
                             << "; it is kept aside and the day starts from the clock";
        dbWorker->replaceLive();
        createNewTime();
        saveConfig();
        doc = QJsonObject();
        docDate.clear();
    }
    if (!docDate.isEmpty() && docDate != getCurDBDate()) {
        if (docDate < getCurDBDate()) {
            if (!dbWorker->archiveLive(docDate))
                qWarning() << "statistics: the day" << docDate << "could not be archived at start; it is kept in the live file";
            doc = QJsonObject();
        } else {
            // The live file is newer than the settings (settings not written):
            // the file's day is the current one.
            CountGroupList tmp;
            StuCountFromJson(tmp, doc);
            const int hour = tmp.groups.isEmpty() ? morningsStart : tmp.groups.first().morningStart;
            startTime = static_cast<quint32>(StatisticsTime::at(QDate::fromString(docDate, QStringLiteral("yyyy-MM-dd")), hour)
                                                 .toSecsSinceEpoch());
            saveConfig();
        }
    }

    dbWorker->moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);

    StuCountFromJson(liveCount, doc);
    if (doc.isEmpty()) {
        liveCount.groups.clear();
        liveCount.date = getCurDBDate();
    }
    if (liveCount.date.isEmpty())
        liveCount.date = getCurDBDate();
    for (CountGroup& g : liveCount.groups)
        shapeGroup(g);
    checkCameraDetectCount(detectCount);
    calcCount(liveCount);
    curGroupName = liveCount.groups.isEmpty() ? paramGroup : liveCount.groups.first().groupName;

    connect(this, &ResStatisticsParam::sigUpdateRecord, dbWorker, &ResStatisticsDatabase::slotUpdateRecord);
    connect(this, &ResStatisticsParam::sigSaveRecord, dbWorker, &ResStatisticsDatabase::slotSaveRecord);
    connect(dbWorker, &ResStatisticsDatabase::sigLoadFinish, this, &ResStatisticsParam::slotRecvRecord);
    // The page's list of days is rebuilt once the worker has moved the file,
    // so the new archive is in it.
    connect(dbWorker, &ResStatisticsDatabase::sigArchived, this, [this](const QString&) { emit sigUpdateList(); });

    cameraCycleOK.clear();
    for (int i = 0; i < 8; ++i)
        cameraCycleOK.append(true);
    cycleOK = true;

    if (!dayTimer) {
        dayTimer = new QTimer(this);
        dayTimer->setInterval(60000);
    }
    m_initialised = true;
    // An orderly quit stores the counts of the last minute first.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &ResStatisticsParam::shutdown,
                Qt::UniqueConnection);
    m_lastSeen = StatisticsTime::now().toSecsSinceEpoch();
}

void ResStatisticsParam::setTimer(bool on)
{
    m_timerOn = on;
    if (dayTimer) {
        if (on)
            dayTimer->start();
        else
            dayTimer->stop();
    }
    armDayCheck();
}

// The minute check runs on the station clock, so tests move it with the
// test clock; dayTimer keeps the check's state and interval for readers.
void ResStatisticsParam::armDayCheck()
{
    if (!m_timerOn || m_checkArmed || !m_initialised)
        return;
    m_checkArmed = true;
    Clock::instance()->singleShot(dayTimer ? dayTimer->interval() : 60000, this, [this] {
        m_checkArmed = false;
        if (!m_timerOn || (dayTimer && !dayTimer->isActive()))
            return;
        checkDate();
        armDayCheck();
    });
}

void ResStatisticsParam::storeDay()
{
    if (!dbWorker || !m_thread || !m_thread->isRunning() || !takeUnreadLive())
        return;
    calcCount(liveCount);
    const QString date = getCurDBDate();
    const QJsonObject doc = StuCountToJson(liveCount);
    ResStatisticsDatabase* w = dbWorker;
    // Queued behind any archive still pending, so the order holds.
    QMetaObject::invokeMethod(w, [w, date, doc] { w->slotSaveRecord(date, doc, false); }, Qt::BlockingQueuedConnection);
}

void ResStatisticsParam::shutdown()
{
    m_timerOn = false;
    if (dayTimer)
        dayTimer->stop();
    if (!dbWorker)
        return;
    storeDay();
    // Ended also when the day could not be stored (a file another program
    // still holds): a thread deleted while it runs takes the process down.
    if (m_thread && m_thread->isRunning()) {
        m_thread->quit();
        m_thread->wait();
    }
    delete dbWorker;
    dbWorker = nullptr;
    delete m_thread;
    m_thread = nullptr;
}

// ---------------------------------------------------------------------------
// Counting

qint64 ResStatisticsParam::nextDayStart()
{
    if (m_nextStartFor != static_cast<qint64>(startTime)) {
        m_nextStartFor = startTime;
        m_nextStart = StatisticsTime::fromSecs(startTime).addDays(1).toSecsSinceEpoch();
    }
    return m_nextStart;
}

int ResStatisticsParam::dayStartHour()
{
    return StatisticsTime::fromSecs(startTime).time().hour();
}

CountGroup ResStatisticsParam::newGroup(const QString& name)
{
    CountGroup g;
    g.morningStart = startTime ? dayStartHour() : morningsStart;
    g.nightStart = nightStart;
    initStuCountGroup(g, name);
    shapeGroup(g);
    return g;
}

CountGroup* ResStatisticsParam::liveGroup(bool create)
{
    for (CountGroup& g : liveCount.groups)
        if (g.groupName == paramGroup)
            return &g;
    if (!create)
        return nullptr;
    liveCount.groups.append(newGroup(paramGroup));
    return &liveCount.groups.last();
}

void ResStatisticsParam::shapeDetect(CountDetect& d)
{
    while (d.OK.size() < kStatSlots)
        d.OK.append(0);
    while (d.NG.size() < kStatSlots)
        d.NG.append(0);
    d.OK = d.OK.mid(0, kStatSlots);
    d.NG = d.NG.mid(0, kStatSlots);
}

// Brings a group read from disk to the shape counting relies on: 24 slots
// everywhere, a record for every camera in use and every detection.
void ResStatisticsParam::shapeGroup(CountGroup& g)
{
    const int detects = qMax(detectNum, gDNum);
    auto shapeCamera = [&](CountCamera& c) {
        shapeDetect(c.total);
        for (CountDetect& d : c.data)
            shapeDetect(d);
        while (c.data.size() < detects) {
            CountDetect d;
            initStuCountDetect(d);
            c.data.append(d);
        }
    };
    while (g.datas.size() < numCamera) {
        CountCamera c;
        initStuCountCamera(c);
        g.datas.append(c);
    }
    for (CountCamera& c : g.datas)
        shapeCamera(c);
    shapeCamera(g.total);
}

void ResStatisticsParam::addRecord(int detect, int hour, QList<bool> cameraOK, bool cycleEnd)
{
    Q_UNUSED(hour);
    if (detect < 0 || detect >= 8) {
        qWarning() << "statistics: result of detection" << detect << "ignored";
        return;
    }
    const qint64 nowSecs = StatisticsTime::now().toSecsSinceEpoch();
    // A result after the day's end belongs to the next day, not to the last
    // slot of this one: rotate first instead of waiting for the minute check.
    // While the check is stopped (an export) the day does not rotate.
    if (m_initialised && m_timerOn && nowSecs >= nextDayStart())
        checkDate();
    CountGroup* g = liveGroup(true);
    const qint64 elapsed = nowSecs - static_cast<qint64>(startTime);
    const int slot = static_cast<int>(qBound<qint64>(0, elapsed / 3600, kStatSlots - 1));

    auto ensure = [detect](CountCamera& c) {
        while (c.data.size() <= detect) {
            CountDetect d;
            initStuCountDetect(d);
            c.data.append(d);
        }
    };
    auto bump = [slot](CountDetect& d, bool ok) {
        QList<int>& l = ok ? d.OK : d.NG;
        if (l.size() < kStatSlots)
            shapeDetect(d);
        ++l[slot];
    };

    while (cameraCycleOK.size() < 8)
        cameraCycleOK.append(true);
    const int n = qMin(cameraOK.size(), g->datas.size());
    bool allOK = true;
    for (int c = 0; c < n; ++c) {
        ensure(g->datas[c]);
        bump(g->datas[c].data[detect], cameraOK[c]);
        allOK = allOK && cameraOK[c];
        if (c < cameraCycleOK.size())
            cameraCycleOK[c] = cameraCycleOK[c] && cameraOK[c];
    }
    ensure(g->total);
    bump(g->total.data[detect], allOK);
    cycleOK = cycleOK && allOK;

    if (cycleEnd) {
        const int m = qMin(cameraCycleOK.size(), g->datas.size());
        for (int c = 0; c < m; ++c) {
            bump(g->datas[c].total, cameraCycleOK[c]);
            cameraCycleOK[c] = true;
        }
        bump(g->total.total, cycleOK);
        cycleOK = true;
    }
    // Only the records this result touched change their sums.
    for (int c = 0; c < n; ++c) {
        calcCount(g->datas[c].data[detect]);
        if (cycleEnd)
            calcCount(g->datas[c].total);
    }
    calcCount(g->total.data[detect]);
    if (cycleEnd) {
        for (int c = n; c < qMin(cameraCycleOK.size(), g->datas.size()); ++c)
            calcCount(g->datas[c].total);
        calcCount(g->total.total);
    }
    emit sigCheckUpdate();
}

void ResStatisticsParam::calcCount(CountDetect& d)
{
    const int dayLen = ((morningsEnd + 24 - morningsStart) % 24 + 24) % 24;
    // Read through const references: this runs for every record after
    // every result, and must not pay a detach check per slot.
    auto sums = [dayLen](const QList<int>& l, int& day, int& night) {
        day = 0;
        night = 0;
        const int n = l.size();
        for (int i = 0; i < n; ++i)
            (i < dayLen ? day : night) += l.at(i);
    };
    sums(d.OK, d.morning.ok, d.night.ok);
    sums(d.NG, d.morning.ng, d.night.ng);
    d.whole.ok = d.morning.ok + d.night.ok;
    d.whole.ng = d.morning.ng + d.night.ng;
}

void ResStatisticsParam::calcCount(CountCamera& c)
{
    for (CountDetect& d : c.data)
        calcCount(d);
    calcCount(c.total);
}

void ResStatisticsParam::calcCount(CountGroup& g)
{
    for (CountCamera& c : g.datas)
        calcCount(c);
    calcCount(g.total);
}

void ResStatisticsParam::calcCount(CountGroupList& l)
{
    for (CountGroup& g : l.groups)
        calcCount(g);
}

namespace {
const CountDetect* pick(const CountGroup& g, int camera, int detect)
{
    const CountCamera* c = nullptr;
    if (camera == kStatTotalIndex)
        c = &g.total;
    else if (camera >= 0 && camera < g.datas.size())
        c = &g.datas[camera];
    if (!c)
        return nullptr;
    if (detect == kStatTotalIndex)
        return &c->total;
    if (detect >= 0 && detect < c->data.size())
        return &c->data[detect];
    return nullptr;
}
} // namespace

int ResStatisticsParam::getCount(ShiftType type, bool ok, int camera, int detect)
{
    const CountGroup g = getGoupFromName(curGroupName);
    if (g.groupName == QLatin1String("null"))
        return 0;
    const CountDetect* d = pick(g, camera, detect);
    if (!d)
        return 0;
    switch (type) {
    case Morning: return ok ? d->morning.ok : d->morning.ng;
    case Night: return ok ? d->night.ok : d->night.ng;
    case Whole: return ok ? d->whole.ok : d->whole.ng;
    }
    return 0;
}

QList<int> ResStatisticsParam::getRes(ShiftType type, bool ok, int camera, int detect)
{
    const CountGroup g = getGoupFromName(curGroupName);
    if (g.groupName == QLatin1String("null"))
        return {};
    const CountDetect* d = pick(g, camera, detect);
    if (!d)
        return {};
    const QList<int>& l = ok ? d->OK : d->NG;
    switch (type) {
    case Whole: return l;
    case Morning: return l.mid(0, (morningsEnd + 24 - morningsStart) % 24);
    case Night: {
        const int from = (nightStart - morningsStart + 24) % 24;
        const int len = (nightEnd + 24 - nightStart) % 24;
        return l.mid(from, len);
    }
    }
    return {};
}

QList<int> ResStatisticsParam::getShiftTimeList(ShiftType type)
{
    QList<int> out;
    int start = 0, end = 24;
    if (type == Morning) {
        start = morningsStart;
        end = morningsEnd;
    } else if (type == Night) {
        start = nightStart;
        end = nightEnd;
    } else if (type != Whole) {
        return out;
    }
    if (type != Whole && end <= start)
        end += 24;
    for (int h = start; h < end; ++h)
        out.append(h % 24);
    return out;
}

QStringList ResStatisticsParam::getGroups()
{
    QStringList names;
    for (const CountGroup& g : showCount.groups)
        names << g.groupName;
    return names;
}

CountGroup ResStatisticsParam::getGoupFromName(QString name)
{
    for (const CountGroup& g : showCount.groups)
        if (g.groupName == name)
            return g;
    CountGroup none;
    none.morningStart = 8;
    none.nightStart = 20;
    none.groupName = QStringLiteral("null");
    none.total.cameraID = -1;
    none.total.total.detectID = -1;
    return none;
}

QString ResStatisticsParam::getCurGroupName() { return paramGroup; }

void ResStatisticsParam::setCurGroup()
{
    // The group's start hour tells readers where slot 0 of this day lies, so
    // it follows the day's real start; new hours take effect with the next day.
    for (CountGroup& g : liveCount.groups)
        if (g.groupName == paramGroup) {
            g.morningStart = dayStartHour();
            g.nightStart = nightStart;
        }
    // Runs after the operator confirmed new shift hours: they must survive a
    // restart even when the day does not rotate first.
    saveConfig();
}

void ResStatisticsParam::checkCameraDetectCount(int count)
{
    detectNum = count;
    for (CountGroup& g : liveCount.groups) {
        if (g.groupName != paramGroup)
            continue;
        auto pad = [count](CountCamera& c) {
            while (c.data.size() < count) {
                CountDetect d;
                initStuCountDetect(d);
                c.data.append(d);
            }
        };
        pad(g.total);
        for (CountCamera& c : g.datas)
            pad(c);
    }
}

// ---------------------------------------------------------------------------
// The document

namespace {
QJsonArray toArray(const QList<int>& l)
{
    QJsonArray a;
    for (int v : l)
        a.append(v);
    return a;
}

QList<int> fromArray(const QJsonValue& v)
{
    QList<int> l;
    const QJsonArray a = v.toArray();
    l.reserve(a.size());
    for (const QJsonValue& e : a)
        l.append(e.toInt(0));
    return l;
}
} // namespace

QJsonObject ResStatisticsParam::StuCountDetectToJson(const CountDetect& d, int index)
{
    QJsonObject o;
    o.insert(QStringLiteral("detectID"), index);
    o.insert(QStringLiteral("OK"), toArray(d.OK));
    o.insert(QStringLiteral("NG"), toArray(d.NG));
    return o;
}

QJsonObject ResStatisticsParam::StuCountCameraToJson(const CountCamera& c, int index, int& detectsWritten)
{
    detectsWritten = 0;
    QJsonArray a;
    for (const CountDetect& d : c.data)
        a.append(StuCountDetectToJson(d, detectsWritten++));
    a.append(StuCountDetectToJson(c.total, -1));
    QJsonObject o;
    o.insert(QStringLiteral("cameraID"), index);
    o.insert(QStringLiteral("data"), a);
    return o;
}

QJsonObject ResStatisticsParam::StuCountGroupToJson(const CountGroup& g)
{
    QJsonArray a;
    int written = 0;
    for (int i = 0; i < g.datas.size(); ++i)
        a.append(StuCountCameraToJson(g.datas[i], i, written));
    a.append(StuCountCameraToJson(g.total, -1, written));
    QJsonObject o;
    o.insert(QStringLiteral("datas"), a);
    o.insert(QStringLiteral("cameraCount"), g.datas.size());
    // Detection records are never removed, so after the detections were
    // lowered the group still holds the day's earlier counts of the higher
    // ones; readers skip records beyond "detectCount", which therefore
    // covers them too.
    o.insert(QStringLiteral("detectCount"), qMax(gDNum, g.total.data.size()));
    o.insert(QStringLiteral("groupName"), g.groupName);
    o.insert(QStringLiteral("morningStart"), g.morningStart);
    o.insert(QStringLiteral("nightStart"), g.nightStart);
    return o;
}

QJsonObject ResStatisticsParam::StuCountToJson(const CountGroupList& l)
{
    QJsonArray a;
    for (const CountGroup& g : l.groups)
        a.append(StuCountGroupToJson(g));
    QJsonObject o;
    o.insert(QStringLiteral("groups"), a);
    o.insert(QStringLiteral("date"), l.date);
    return o;
}

void ResStatisticsParam::StuCountDetectFromJson(CountDetect& d, const QJsonObject& obj)
{
    d.OK = fromArray(obj.value(QStringLiteral("OK")));
    d.NG = fromArray(obj.value(QStringLiteral("NG")));
    d.detectID = obj.value(QStringLiteral("detectID")).toInt(0);
}

void ResStatisticsParam::StuCountCameraFromJson(CountCamera& c, const QJsonObject& obj)
{
    c.data.clear();
    for (const QJsonValue& v : obj.value(QStringLiteral("data")).toArray()) {
        const QJsonObject o = v.toObject();
        if (o.value(QStringLiteral("detectID")).toInt(0) == -1) {
            StuCountDetectFromJson(c.total, o);
        } else {
            CountDetect d;
            StuCountDetectFromJson(d, o);
            c.data.append(d);
        }
    }
    c.cameraID = obj.value(QStringLiteral("cameraID")).toInt(0);
}

void ResStatisticsParam::StuCountGroupFromJson(CountGroup& g, const QJsonObject& obj)
{
    g.datas.clear();
    for (const QJsonValue& v : obj.value(QStringLiteral("datas")).toArray()) {
        const QJsonObject o = v.toObject();
        if (o.value(QStringLiteral("cameraID")).toInt(0) == -1) {
            StuCountCameraFromJson(g.total, o);
        } else {
            CountCamera c;
            StuCountCameraFromJson(c, o);
            g.datas.append(c);
        }
    }
    g.groupName = obj.value(QStringLiteral("groupName")).toString();
    g.morningStart = obj.value(QStringLiteral("morningStart")).toInt(8);
    g.nightStart = obj.value(QStringLiteral("nightStart")).toInt(20);
}

void ResStatisticsParam::StuCountFromJson(CountGroupList& l, const QJsonObject& obj)
{
    l.date = obj.value(QStringLiteral("date")).toString();
    l.groups.clear();
    for (const QJsonValue& v : obj.value(QStringLiteral("groups")).toArray()) {
        CountGroup g;
        g.groupName = QStringLiteral("null");
        StuCountGroupFromJson(g, v.toObject());
        l.groups.append(g);
    }
}

void ResStatisticsParam::initStuStatisticsCount(sCount& s)
{
    s.ng = 0;
    s.ok = 0;
}

void ResStatisticsParam::initStuCountDetect(CountDetect& d)
{
    d.detectID = -1;
    d.OK = QList<int>();
    d.NG = QList<int>();
    for (int i = 0; i < kStatSlots; ++i) {
        d.OK.append(0);
        d.NG.append(0);
    }
    initStuStatisticsCount(d.morning);
    initStuStatisticsCount(d.night);
    initStuStatisticsCount(d.whole);
}

void ResStatisticsParam::initStuCountCamera(CountCamera& c)
{
    c.cameraID = -1;
    c.data.clear();
    for (int i = 0; i < gDNum; ++i) {
        CountDetect d;
        initStuCountDetect(d);
        c.data.append(d);
    }
    initStuCountDetect(c.total);
}

void ResStatisticsParam::initStuCountGroup(CountGroup& g, QString name)
{
    g.datas.clear();
    for (int i = 0; i < numCamera; ++i) {
        CountCamera c;
        initStuCountCamera(c);
        g.datas.append(c);
    }
    initStuCountCamera(g.total);
    g.groupName = name;
}

void ResStatisticsParam::initStuCount(CountGroupList& l)
{
    CountGroup g;
    g.morningStart = 8;
    g.nightStart = 20;
    initStuCountGroup(g, QStringLiteral("default"));
    l.groups = {g};
    l.date = getCurDBDate();
}

// ---------------------------------------------------------------------------
// Day and shift settings

void ResStatisticsParam::laodConfig()
{
    QFile f(configFile());
    if (!f.open(QIODevice::ReadOnly)) {
        createNewTime();
        saveConfig();
        return;
    }
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    f.close();
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning() << "laodConfig fail, Error parsing JSON:" << err.errorString();
        createNewTime();
        saveConfig();
        return;
    }
    laodConfigFromJson(doc.object());
}

void ResStatisticsParam::laodConfigFromJson(QJsonObject obj)
{
    if (obj.contains(QStringLiteral("time")))
        startTime = obj.value(QStringLiteral("time")).toString().toUInt();
    auto hour = [&obj](const char* key) { return qBound(0, obj.value(QLatin1String(key)).toInt(0), 23); };
    morningsStart = hour("morningsStart");
    morningsEnd = hour("morningsEnd");
    nightStart = hour("nightStart");
    nightEnd = hour("nightEnd");
}

bool ResStatisticsParam::checkParam(QJsonObject& obj)
{
    obj.insert(QStringLiteral("time"), QString::number(startTime));
    return obj.value(QStringLiteral("morningsStart")).toInt(0) != morningsStart
        || obj.value(QStringLiteral("morningsEnd")).toInt(0) != morningsEnd
        || obj.value(QStringLiteral("nightStart")).toInt(0) != nightStart
        || obj.value(QStringLiteral("nightEnd")).toInt(0) != nightEnd;
}

bool ResStatisticsParam::saveConfig()
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), QString::number(startTime));
    o.insert(QStringLiteral("morningsStart"), morningsStart);
    o.insert(QStringLiteral("morningsEnd"), morningsEnd);
    o.insert(QStringLiteral("nightStart"), nightStart);
    o.insert(QStringLiteral("nightEnd"), nightEnd);
    // Replaced whole through a temporary file: a power cut leaves the old or
    // the new settings, never an empty file that would restart the day.
    QSaveFile f(configFile());
    if (!f.open(QIODevice::WriteOnly)) {
        qWarning() << "statistics: cannot write" << configFile();
        return false;
    }
    f.write(QJsonDocument(o).toJson(QJsonDocument::Indented));
    if (!f.flush() || ::fsync(f.handle()) != 0) {
        f.cancelWriting();
        qWarning() << "statistics: cannot write" << configFile();
        return false;
    }
    return f.commit();
}

void ResStatisticsParam::createNewTime()
{
    // The start of the statistical day that holds now: never in the future,
    // so every result lands in the slot of its real hour.
    startTime = static_cast<quint32>(StatisticsTime::dayStartOf(StatisticsTime::now(), morningsStart).toSecsSinceEpoch());
}

QString ResStatisticsParam::getCurDBDate()
{
    return StatisticsTime::fromSecs(startTime).date().toString(QStringLiteral("yyyy-MM-dd"));
}

void ResStatisticsParam::startNewDay(const QDateTime& dayStart)
{
    startTime = static_cast<quint32>(dayStart.toSecsSinceEpoch());
    saveConfig();
    liveCount.groups = {newGroup(paramGroup)};
    liveCount.date = getCurDBDate();
    calcCount(liveCount);
}

bool ResStatisticsParam::takeUnreadLive()
{
    if (!m_unreadLive)
        return true;
    const QString live = ResStatisticsDatabase::liveFile();
    if (DatabaseFile::check(live, ResStatisticsDatabase::table(), nullptr, QStringLiteral("name, value1, value2"))
        == DatabaseFile::Busy) {
        qWarning().noquote() << "statistics:" << live << "is still locked; the day is saved once it is free";
        return false;
    }
    QJsonObject doc;
    ResStatisticsDatabase(ResStatisticsDatabase::ReaderOnly{}).loadCountFromJson(live, doc);
    m_unreadLive = false;
    CountGroupList held;
    StuCountFromJson(held, doc);
    // Another day in the file is archived by the worker before this one is
    // stored; only the same day's counts belong to liveCount.
    if (held.date != liveCount.date)
        return true;
    const auto add = [](CountDetect& to, const CountDetect& from) {
        for (int i = 0; i < kStatSlots && i < to.OK.size() && i < from.OK.size(); ++i)
            to.OK[i] += from.OK[i];
        for (int i = 0; i < kStatSlots && i < to.NG.size() && i < from.NG.size(); ++i)
            to.NG[i] += from.NG[i];
    };
    const auto addCamera = [&add](CountCamera& to, const CountCamera& from) {
        add(to.total, from.total);
        for (int d = 0; d < to.data.size() && d < from.data.size(); ++d)
            add(to.data[d], from.data[d]);
    };
    for (CountGroup g : held.groups) {
        shapeGroup(g);
        CountGroup* mine = nullptr;
        for (CountGroup& m : liveCount.groups)
            if (m.groupName == g.groupName)
                mine = &m;
        if (!mine) {
            liveCount.groups.append(g);
            continue;
        }
        addCamera(mine->total, g.total);
        for (int c = 0; c < mine->datas.size() && c < g.datas.size(); ++c)
            addCamera(mine->datas[c], g.datas[c]);
    }
    calcCount(liveCount);
    return true;
}

void ResStatisticsParam::checkDate()
{
    if (!takeUnreadLive())
        return;
    const QDateTime now = StatisticsTime::now();
    const qint64 nowSecs = now.toSecsSinceEpoch();
    calcCount(liveCount);

    // The day is over at the same clock hour of the next calendar day, so a
    // day with a DST change lasts 23 or 25 hours and rotates once. A clock
    // set back by a day or more starts the day it now shows; a smaller step
    // back keeps the day, so it is archived at most once.
    const bool forward = nowSecs >= nextDayStart();
    const qint64 reference = qMax<qint64>(m_lastSeen, startTime);
    const bool backward = nowSecs + 86400 <= reference;
    const bool isMove = forward || backward;
    if (backward)
        qWarning() << "statistics: the clock went back from" << StatisticsTime::fromSecs(reference) << "to" << now
                   << "; day" << getCurDBDate() << "is closed";

    emit sigSaveRecord(getCurDBDate(), StuCountToJson(liveCount), isMove);
    m_lastSeen = nowSecs;
    if (!isMove)
        return;
    startNewDay(StatisticsTime::dayStartOf(now, morningsStart));
    emit sigCheckUpdate();
}

void ResStatisticsParam::slotUpdateRecord(int row, QString path)
{
    if (row == 0) {
        showCount.date = liveCount.date;
        showCount.groups = liveCount.groups;
        calcCount(showCount);
        emit sigLoadFinish(true);
        return;
    }
    emit sigUpdateRecord(path);
}

void ResStatisticsParam::slotRecvRecord(QJsonObject json, bool ok)
{
    if (ok)
        StuCountFromJson(showCount, json);
    else
        initStuCount(showCount);
    calcCount(showCount);
    emit sigLoadFinish(ok);
}
