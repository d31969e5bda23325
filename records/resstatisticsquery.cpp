// The HTTP production-count query over the statistics files: hour series of
// a time range, built day by day from the day documents.
#include "records/resstatisticsdatabase.h"

#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "records/resstatisticsparam.h"
#include "records/statisticsconnection.h"
#include "records/statisticstime.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QVariant>

#include <vector>

namespace {

using Row = std::vector<int>;
using Rows = std::vector<Row>;

struct EveryDetect
{
    Row all, ng;
    Rows allDetail, ngDetail;
    int index = 0; // 1-based, only on elements a missing day made
};

// The five series, kept as plain vectors while the walk runs (a year's
// query appends hundreds of thousands of values) and turned into JSON once.
struct Series
{
    Row all, ng;
    Rows allDetail, ngDetail;
    std::vector<EveryDetect> every;
};

void zeros(Row& r, int n)
{
    if (n > 0)
        r.insert(r.end(), static_cast<size_t>(n), 0);
}

void extend(Rows& rows, int count)
{
    while (static_cast<int>(rows.size()) < count)
        rows.emplace_back(rows.empty() ? 0 : rows.front().size(), 0);
}

EveryDetect newElement(const Series& s)
{
    EveryDetect e;
    if (s.every.empty())
        return e;
    const EveryDetect& f = s.every.front();
    e.all.assign(f.all.size(), 0);
    e.ng.assign(f.ng.size(), 0);
    for (const Row& r : f.allDetail)
        e.allDetail.emplace_back(r.size(), 0);
    for (const Row& r : f.ngDetail)
        e.ngDetail.emplace_back(r.size(), 0);
    return e;
}

// Slots of the day that starts at dayStart inside [start, finish]; the slot
// holding the finish belongs to it, also on a full hour.
bool window(const QDateTime& dayStart, const QDateTime& start, const QDateTime& finish, int& first, int& end)
{
    const qint64 s = dayStart.secsTo(start);
    if (s >= 86400)
        return false;
    first = s >= 3600 ? static_cast<int>(s / 3600) : 0;
    const qint64 e = dayStart.secsTo(finish);
    if (e < 0)
        return false;
    end = e < 82800 ? static_cast<int>(e / 3600) + 1 : 24;
    return true;
}

bool dayFill(Series& s, const QDateTime& dayStart, const QDateTime& start, const QDateTime& finish, int cc, int dc,
             int& first, int& end)
{
    first = 0;
    end = 24;
    if (!window(dayStart, start, finish, first, end))
        return false;
    const int n = qMax(0, end - first);
    while (static_cast<int>(s.every.size()) < dc)
        s.every.push_back(newElement(s));
    for (int i = 0; i < static_cast<int>(s.every.size()); ++i) {
        EveryDetect& e = s.every[static_cast<size_t>(i)];
        if (i >= dc) {
            zeros(e.all, n);
            zeros(e.ng, n);
        }
        for (Rows* rows : {&e.allDetail, &e.ngDetail}) {
            extend(*rows, cc);
            for (int c = 0; c < static_cast<int>(rows->size()); ++c)
                if (i >= dc || c >= cc)
                    zeros((*rows)[static_cast<size_t>(c)], n);
        }
    }
    extend(s.allDetail, cc);
    extend(s.ngDetail, cc);
    for (int c = cc; c < static_cast<int>(s.allDetail.size()); ++c) {
        zeros(s.allDetail[static_cast<size_t>(c)], n);
        if (c < static_cast<int>(s.ngDetail.size()))
            zeros(s.ngDetail[static_cast<size_t>(c)], n);
    }
    return true;
}

void missingFill(Series& s, const QDateTime& dayStart, const QDateTime& start, const QDateTime& finish, int cc, int dc)
{
    int first = 0, end = 24;
    if (!window(dayStart, start, finish, first, end))
        return;
    const int n = qMax(0, end - first);
    extend(s.allDetail, cc);
    extend(s.ngDetail, cc);
    while (static_cast<int>(s.every.size()) < dc) {
        EveryDetect e = newElement(s);
        e.index = static_cast<int>(s.every.size()) + 1;
        s.every.push_back(std::move(e));
    }
    for (EveryDetect& e : s.every) {
        extend(e.allDetail, cc);
        extend(e.ngDetail, cc);
    }
    zeros(s.ng, n);
    zeros(s.all, n);
    for (Row& r : s.ngDetail)
        zeros(r, n);
    for (Row& r : s.allDetail)
        zeros(r, n);
    for (EveryDetect& e : s.every) {
        zeros(e.all, n);
        zeros(e.ng, n);
        for (Row& r : e.allDetail)
            zeros(r, n);
        for (Row& r : e.ngDetail)
            zeros(r, n);
    }
}

QJsonArray toJson(const Row& r)
{
    QJsonArray a;
    for (int v : r)
        a.append(v);
    return a;
}

QJsonArray toJson(const Rows& rows)
{
    QJsonArray a;
    for (const Row& r : rows)
        a.append(toJson(r));
    return a;
}

Row fromJson(const QJsonArray& a)
{
    Row r;
    r.reserve(static_cast<size_t>(a.size()));
    for (const QJsonValue& v : a)
        r.push_back(v.toInt());
    return r;
}

Rows rowsFromJson(const QJsonArray& a)
{
    Rows rows;
    for (const QJsonValue& v : a)
        rows.push_back(fromJson(v.toArray()));
    return rows;
}

QJsonObject elementToJson(const EveryDetect& e)
{
    QJsonObject o;
    o.insert(QStringLiteral("detect_index_all"), toJson(e.all));
    o.insert(QStringLiteral("detect_index_ng"), toJson(e.ng));
    o.insert(QStringLiteral("detect_index_all_detail"), toJson(e.allDetail));
    o.insert(QStringLiteral("detect_index_ng_detail"), toJson(e.ngDetail));
    if (e.index > 0)
        o.insert(QStringLiteral("detect_index"), e.index);
    return o;
}

EveryDetect elementFromJson(const QJsonObject& o)
{
    EveryDetect e;
    e.all = fromJson(o.value(QStringLiteral("detect_index_all")).toArray());
    e.ng = fromJson(o.value(QStringLiteral("detect_index_ng")).toArray());
    e.allDetail = rowsFromJson(o.value(QStringLiteral("detect_index_all_detail")).toArray());
    e.ngDetail = rowsFromJson(o.value(QStringLiteral("detect_index_ng_detail")).toArray());
    e.index = o.value(QStringLiteral("detect_index")).toInt(0);
    return e;
}

Series seriesFromJson(const QJsonArray& ng, const QJsonArray& all, const QJsonArray& ngD, const QJsonArray& allD,
                      const QJsonArray& every)
{
    Series s;
    s.ng = fromJson(ng);
    s.all = fromJson(all);
    s.ngDetail = rowsFromJson(ngD);
    s.allDetail = rowsFromJson(allD);
    for (const QJsonValue& v : every)
        s.every.push_back(elementFromJson(v.toObject()));
    return s;
}

void seriesToJson(const Series& s, QJsonArray& ng, QJsonArray& all, QJsonArray& ngD, QJsonArray& allD, QJsonArray& every)
{
    ng = toJson(s.ng);
    all = toJson(s.all);
    ngD = toJson(s.ngDetail);
    allD = toJson(s.allDetail);
    every = QJsonArray();
    for (const EveryDetect& e : s.every)
        every.append(elementToJson(e));
}

int wholeNumber(const QJsonValue& v, int fallback)
{
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    return d == static_cast<int>(d) ? static_cast<int>(d) : fallback;
}

QString docTextOf(QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("select value1 from resstatistics where name='statisticsjson'")) && q.next())
        return q.value(0).toString();
    return QString();
}

// The document of a legacy day, built in memory only.
QJsonObject legacyDocument(QSqlDatabase& db, const QString& date, const QString& group)
{
    CountGroup g;
    g.morningStart = 8;
    g.nightStart = 20;
    ResStatisticsParam::initStuCountGroup(g, QStringLiteral("default"));
    ResStatisticsDatabase reader{ResStatisticsDatabase::ReaderOnly()};
    QSqlQuery q(db);
    reader.loadCountFromJson(g, q);
    g.groupName = group;
    CountGroupList l;
    l.date = date;
    l.groups = {g};
    return ResStatisticsParam::StuCountToJson(l);
}

} // namespace

bool completeData(QDateTime day, QDateTime start, QDateTime finish, QJsonArray& detectNg, QJsonArray& detectAll,
                  QJsonArray& ngDetail, QJsonArray& allDetail, QJsonArray& everyDetect, int cameraCount, int detectCount,
                  int& firstHour, int& endHour, int dayStartHour)
{
    Series s = seriesFromJson(detectNg, detectAll, ngDetail, allDetail, everyDetect);
    const bool ok = dayFill(s, StatisticsTime::at(day.date(), dayStartHour), start, finish, cameraCount, detectCount,
                            firstHour, endHour);
    seriesToJson(s, detectNg, detectAll, ngDetail, allDetail, everyDetect);
    return ok;
}

void completeDataForErrorData(QDateTime day, QDateTime start, QDateTime finish, QJsonArray& detectNg,
                              QJsonArray& detectAll, QJsonArray& ngDetail, QJsonArray& allDetail,
                              QJsonArray& everyDetect, int cameraCount, int detectCount)
{
    Series s = seriesFromJson(detectNg, detectAll, ngDetail, allDetail, everyDetect);
    missingFill(s, StatisticsTime::at(day.date(), 8), start, finish, cameraCount, detectCount);
    seriesToJson(s, detectNg, detectAll, ngDetail, allDetail, everyDetect);
}

QJsonObject creatorEveryDetectIndex(QJsonObject element)
{
    Series s;
    s.every.push_back(elementFromJson(element));
    EveryDetect e = newElement(s);
    e.index = 0;
    return elementToJson(e);
}

bool ResStatisticsDatabase::loadCount(QString startText, QString finishText, QJsonObject& out, QString group,
                                      QStringList* problems)
{
    auto report = [problems](const QString& text) {
        qWarning().noquote() << "statistics query:" << text;
        if (problems)
            *problems << text;
    };
    if (group.isEmpty())
        group = gpWPara ? gpWPara->getCurGroupName() : QStringLiteral("default");
    const QString fmt = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime parsedStart = QDateTime::fromString(startText, fmt);
    const QDateTime parsedFinish = QDateTime::fromString(finishText, fmt);
    Series s;
    auto finish = [&] {
        QJsonArray ng, all, ngD, allD, every;
        seriesToJson(s, ng, all, ngD, allD, every);
        out.insert(QStringLiteral("detect_all"), all);
        out.insert(QStringLiteral("detect_all_detail"), allD);
        out.insert(QStringLiteral("detect_ng"), ng);
        out.insert(QStringLiteral("detect_ng_detail"), ngD);
        out.insert(QStringLiteral("every_detect"), every);
    };
    // Text that is no time, and ranges beyond what the station keeps, answer
    // at once with empty series instead of walking unbounded.
    if (!parsedStart.isValid() || !parsedFinish.isValid()) {
        report(QStringLiteral("no time in \"%1\" to \"%2\"").arg(startText.left(40), finishText.left(40)));
        finish();
        return false;
    }
    if (parsedStart > parsedFinish) {
        report(QStringLiteral("the range %1 to %2 ends before it starts").arg(startText, finishText));
        finish();
        return false;
    }
    if (parsedStart.daysTo(parsedFinish) > kMaxQueryDays) {
        report(QStringLiteral("the range %1 to %2 is longer than %3 days").arg(startText, finishText).arg(kMaxQueryDays));
        finish();
        return false;
    }
    const QDateTime start = StatisticsTime::at(parsedStart.date(), parsedStart.time());
    const QDateTime end = StatisticsTime::at(parsedFinish.date(), parsedFinish.time());

    const int missingCameras = CameraManager::_instance ? CameraManager::_instance->cameras.size() : numCamera;
    const int missingDetects = gDNum;
    const QDate today = StatisticsTime::now().date();

    StatisticsConnection conn(QStringLiteral("dbFindResStatistics"), liveFile());
    // The live file serves the statistical day its document names: between
    // midnight and the morning hour that is the day that began yesterday.
    QString liveDate;
    int missingHour = 8;
    if (conn.open()) {
        const QJsonObject live = QJsonDocument::fromJson(docTextOf(conn.db()).toUtf8()).object();
        liveDate = live.value(QStringLiteral("date")).toString();
        for (const QJsonValue& g : live.value(QStringLiteral("groups")).toArray())
            if (g.toObject().value(QStringLiteral("groupName")).toString() == group) {
                missingHour = wholeNumber(g.toObject().value(QStringLiteral("morningStart")), 8);
                break;
            }
    }

    const QString dayFmt = QStringLiteral("yyyy-MM-dd");
    QDateTime cursor = start.addDays(-2);
    while (cursor < end) {
        cursor = cursor.addDays(1);
        const QDate date = cursor.date();
        const QString dateText = date.toString(dayFmt);
        const bool isLive = liveDate.isEmpty() ? date == today : dateText == liveDate;
        const QString path = isLive ? liveFile() : QDir(archiveDir()).filePath(dateText + QStringLiteral(".db"));
        conn.setPath(path);
        if (!conn.open() || !tableExists(conn.db(), table())) {
            missingFill(s, StatisticsTime::at(date, missingHour), start, end, missingCameras, missingDetects);
            continue;
        }
        QString text = docTextOf(conn.db());
        QJsonObject doc = text.isEmpty() ? legacyDocument(conn.db(), isLive ? today.toString(dayFmt) : dateText,
                                                          isLive ? group : QStringLiteral("default"))
                                         : QJsonDocument::fromJson(text.toUtf8()).object();
        conn.setPath(path);
        const QDate docDay = QDate::fromString(doc.value(QStringLiteral("date")).toString(), dayFmt);
        if (!docDay.isValid()) {
            // Its hours cannot be placed: the day counts as missing, and the
            // caller learns why.
            report(QStringLiteral("%1 holds a document without a valid date; its counts are left out").arg(path));
            missingFill(s, StatisticsTime::at(date, missingHour), start, end, missingCameras, missingDetects);
            continue;
        }
        bool found = false;
        for (const QJsonValue& gv : doc.value(QStringLiteral("groups")).toArray()) {
            const QJsonObject g = gv.toObject();
            if (g.value(QStringLiteral("groupName")).toString() != group)
                continue;
            found = true;
            const int cc = qMax(0, wholeNumber(g.value(QStringLiteral("cameraCount")), 0));
            const int dc = qMax(0, wholeNumber(g.value(QStringLiteral("detectCount")), 0));
            const int hour = g.contains(QStringLiteral("morningStart"))
                ? wholeNumber(g.value(QStringLiteral("morningStart")), 8)
                : 8;
            missingHour = hour;
            int first = 0, last = 24;
            if (!dayFill(s, StatisticsTime::at(docDay, hour), start, end, cc, dc, first, last))
                continue;
            for (const QJsonValue& cv : g.value(QStringLiteral("datas")).toArray()) {
                const QJsonObject co = cv.toObject();
                const int c = co.value(QStringLiteral("cameraID")).toInt(0);
                // Records beyond the counts the group declares have no place
                // in the series (detections lowered during the day).
                if (c < -1 || c >= cc)
                    continue;
                for (const QJsonValue& dv : co.value(QStringLiteral("data")).toArray()) {
                    const QJsonObject dobj = dv.toObject();
                    const int d = dobj.value(QStringLiteral("detectID")).toInt(0);
                    if (d < -1 || d >= dc)
                        continue;
                    const QJsonArray okA = dobj.value(QStringLiteral("OK")).toArray();
                    const QJsonArray ngA = dobj.value(QStringLiteral("NG")).toArray();
                    Row* allRow;
                    Row* ngRow;
                    if (c < 0 && d < 0) {
                        allRow = &s.all;
                        ngRow = &s.ng;
                    } else if (d < 0) {
                        allRow = &s.allDetail[static_cast<size_t>(c)];
                        ngRow = &s.ngDetail[static_cast<size_t>(c)];
                    } else if (c < 0) {
                        allRow = &s.every[static_cast<size_t>(d)].all;
                        ngRow = &s.every[static_cast<size_t>(d)].ng;
                    } else {
                        allRow = &s.every[static_cast<size_t>(d)].allDetail[static_cast<size_t>(c)];
                        ngRow = &s.every[static_cast<size_t>(d)].ngDetail[static_cast<size_t>(c)];
                    }
                    for (int k = first; k < last; ++k) {
                        const int ng = ngA.at(k).toInt(0);
                        const int ok = okA.at(k).toInt(0);
                        ngRow->push_back(ng);
                        allRow->push_back(ng + ok);
                    }
                }
            }
        }
        if (!found)
            missingFill(s, StatisticsTime::at(date, missingHour), start, end, missingCameras, missingDetects);
    }
    finish();
    return true;
}
