#include "records/resstatisticsdatabase.h"
#include "controller/stationexit.h"
#include "frame/safefile.h"

#include "frame/databasefile.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "platform/commandrunner.h"
#include "records/resstatisticsparam.h"
#include "records/statisticsconnection.h"
#include "records/statisticstime.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QRegularExpression>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kSelectDoc = "select value1 from resstatistics where name='statisticsjson'";

void syncPath(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The template is copied only when it is a sound database with the table;
// otherwise the empty file is made as the factory tool makes it. A damaged
// template copied in would fail every save and every start.
bool makeEmptyDay(const QString& to)
{
    static std::atomic<bool> told{false};
    QString why;
    if (DatabaseFile::check(ResStatisticsDatabase::templateFile(), ResStatisticsDatabase::table(), &why,
                            QStringLiteral("name, value1, value2"))
        == DatabaseFile::Usable)
        return QFile::copy(ResStatisticsDatabase::templateFile(), to);
    if (!told.exchange(true))
        qWarning().noquote() << "statistics:" << ResStatisticsDatabase::templateFile() << "missing or unusable (" + why
                + "), the empty day file is made anew";
    return ResStatisticsDatabase::writeTemplate(to);
}

// Copies the template to a temporary name beside to, syncs it and renames
// it over to, so to is either absent or complete.
bool copyInPlace(const QString& from, const QString& to)
{
    const QString tmp = to + QStringLiteral(".tmp");
    QFile::remove(tmp);
    bool ok = makeEmptyDay(tmp);
    if (ok) {
        QFile(tmp).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                  | QFileDevice::WriteGroup | QFileDevice::ReadOther);
        syncPath(tmp);
        ok = ::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(to).constData()) == 0;
    }
    if (!ok) {
        QFile::remove(tmp);
        qWarning() << "statistics: cannot put" << from << "in place of" << to;
        return false;
    }
    syncPath(QFileInfo(to).absolutePath());
    return true;
}

QString readDocText(QSqlDatabase& db, bool* hadRow = nullptr)
{
    QSqlQuery q(db);
    QString text;
    bool row = false;
    if (q.exec(QLatin1String(kSelectDoc)) && q.next()) {
        row = true;
        text = q.value(0).toString();
    }
    if (hadRow)
        *hadRow = row;
    return text;
}
} // namespace

QString removeSuffix(const QString& path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return path;
    return path.left(dot).split(QLatin1Char('/')).last();
}

bool tableExists(QSqlDatabase& db, const QString& table)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=:tableName;"));
    q.bindValue(QStringLiteral(":tableName"), table);
    return q.exec() && q.next();
}

bool ResStatisticsDatabase::writeTemplate(const QString& path)
{
    QFile::remove(path);
    bool ok = false;
    {
        StatisticsConnection c(QStringLiteral("dbResStatisticsTemplate"), path);
        if (c.db().open()) {
            QSqlQuery q(c.db());
            ok = q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, "
                                       "value2 TEXT NOT NULL )")
                            .arg(table()));
        }
    }
    return ok;
}

bool ResStatisticsDatabase::isFreshFile(const QString& path)
{
    StatisticsConnection c(QStringLiteral("dbFindResStatistics"), path);
    if (!c.open())
        return false;
    if (!tableExists(c.db(), table()))
        return true;
    QSqlQuery q(c.db());
    return q.exec(QStringLiteral("select count(*) from resstatistics")) && q.next() && q.value(0).toInt() == 0;
}

bool ResStatisticsDatabase::isDayName(const QString& s)
{
    const QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
    return d.isValid() && d.toString(QStringLiteral("yyyy-MM-dd")) == s;
}

bool ResStatisticsDatabase::isPlausibleDay(const QString& s)
{
    if (!isDayName(s))
        return false;
    const QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
    const QDate today = StatisticsTime::now().date();
    return d <= today.addDays(1) && d >= today.addYears(-10);
}

bool ResStatisticsDatabase::replaceLive() { return setDamagedAside() && installTemplate(); }

bool ResStatisticsDatabase::archiveExists(const QString& date)
{
    return QFileInfo::exists(QDir(archiveDir()).filePath(date + QStringLiteral(".db")));
}

ResStatisticsDatabase::ResStatisticsDatabase(ResStatisticsParam* param, QObject* parent)
    : QObject(parent)
    , m_param(param)
{
    registerStatisticsMetaTypes();
    if (!QFileInfo::exists(liveFile())) {
        installTemplate();
        CommandRunner::system(QStringLiteral("sync"));
    }
    QString why;
    DatabaseFile::State state =
        DatabaseFile::checkWaiting(liveFile(), table(), &why, 5, 1000, QStringLiteral("name, value1, value2"));
    if (state == DatabaseFile::Missing && QFileInfo::exists(liveFile()))
        state = DatabaseFile::Damaged; // a folder or the like under the file's name
    if (state == DatabaseFile::Busy) {
        // Another program holds the day's file: its counts are not lost, so
        // it is neither set aside nor replaced. Saves wait for it.
        qCritical().noquote() << "statistics:" << liveFile() << "stays locked by another program:" << why;
        tellOperator(764, messageText(764).arg(liveFile()));
        liveBusyAtStart = true;
        return;
    }
    if (state == DatabaseFile::Usable || state == DatabaseFile::Empty) {
        StatisticsConnection c(QStringLiteral("dbResStatistics"), liveFile());
        if (c.open())
            ensureTable(c.db());
        return;
    }
    // A damaged live file would fail every save and every start. It is kept
    // aside for the supplier and the day starts again from the template, so
    // the restart that follows the message finds a sound file.
    qWarning().noquote() << "statistics:" << liveFile() << "is damaged:" << why;
    tellOperator(544);
    if (setDamagedAside() && installTemplate()) {
        StatisticsConnection c(QStringLiteral("dbResStatistics"), liveFile());
        if (c.open(true))
            ensureTable(c.db());
    }
    CommandRunner::system(QStringLiteral("reboot"));
    StationExit::wentDown(StationExit::Reboot);
}

bool ResStatisticsDatabase::setDamagedAside()
{
    const QString aside = liveFile() + QStringLiteral(".bad-")
        + StatisticsTime::now().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (::rename(QFile::encodeName(liveFile()).constData(), QFile::encodeName(aside).constData()) != 0) {
        qWarning() << "statistics: cannot set the damaged" << liveFile() << "aside:" << std::strerror(errno);
        return false;
    }
    qWarning() << "statistics: damaged" << liveFile() << "kept as" << aside;
    return true;
}

bool ResStatisticsDatabase::installTemplate() { return copyInPlace(templateFile(), liveFile()); }

bool ResStatisticsDatabase::ensureTable(QSqlDatabase& db)
{
    if (tableExists(db, table())) {
        qInfo() << "statistics table exists, no need to create a new one.";
        return true;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 "
                               "TEXT NOT NULL )")
                    .arg(table()))) {
        qWarning() << "Failed to create statistics table:" << q.lastError().text();
        return false;
    }
    qInfo() << "statistics table created successfully.";
    return true;
}

bool ResStatisticsDatabase::saveCountFromJson(QJsonObject json, QSqlQuery query)
{
    const QString text = QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented));
    query.prepare(QStringLiteral("INSERT INTO resstatistics (name, value1, value2) VALUES (:name, :value1, :value2) ON "
                                 "CONFLICT(name) DO UPDATE SET value1 = excluded.value1, value2 = excluded.value2"));
    query.bindValue(QStringLiteral(":name"), QStringLiteral("statisticsjson"));
    query.bindValue(QStringLiteral(":value1"), text);
    query.bindValue(QStringLiteral(":value2"), QString(QLatin1String("")));
    if (!query.exec()) {
        qWarning() << "Upsert failed:" << query.lastError().text();
        return false;
    }
    return true;
}

void ResStatisticsDatabase::slotSaveRecord(QString curDate, QJsonObject json, bool isMove)
{
    const QString docDate = json.value(QStringLiteral("date")).toString();
    // Removed behind the station's back: start a fresh file rather than
    // skipping every save from now on.
    if (!QFileInfo::exists(liveFile()))
        installTemplate();
    bool saved = false;
    {
        StatisticsConnection c(QStringLiteral("dbResStatistics"), liveFile());
        if (!c.open()) {
            qWarning() << "statistics: cannot open" << liveFile() << "; the day is saved at the next try";
            return;
        }
        ensureTable(c.db());
        // The live file still holds another day (its archive failed before):
        // that day is archived first and never overwritten by this one.
        QString held;
        const QString text = readDocText(c.db());
        if (!text.isEmpty())
            held = QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("date")).toString();
        if (!held.isEmpty() && !isPlausibleDay(held)) {
            // Not a day of this station: never an archive name.
            qWarning().noquote() << "statistics: the live file holds a document dated" << held.left(40)
                                 << "; it is kept aside";
            c.setPath(QString());
            if (!replaceLive())
                return;
            held.clear();
            c.setPath(liveFile());
            if (!c.open())
                return;
            ensureTable(c.db());
        }
        if (!held.isEmpty() && !docDate.isEmpty() && held != docDate) {
            c.setPath(liveFile());
            if (!archiveLive(held)) {
                qWarning() << "statistics: day" << docDate << "not saved, the live file still holds day" << held;
                return;
            }
            c.setPath(liveFile());
            if (!c.open())
                return;
            ensureTable(c.db());
        }
        saved = saveCountFromJson(json, QSqlQuery(c.db()));
    }
    if (isMove && saved)
        archiveLive(curDate);
}

bool ResStatisticsDatabase::archiveLive(const QString& date)
{
    if (!isDayName(date)) {
        qWarning().noquote() << "statistics: no archive under the name" << date.left(40);
        return false;
    }
    const QString live = QFileInfo(liveFile()).absoluteFilePath();
    if (!QFileInfo(live).isFile())
        return false;
    if (!QDir().mkpath(archiveDir())) {
        qWarning() << "statistics: cannot create the archive folder" << archiveDir();
        return false;
    }
    const QString dir = QDir(archiveDir()).absolutePath();
    auto candidate = [&](int n) {
        return n == 0 ? QStringLiteral("%1/%2.db").arg(dir, date) : QStringLiteral("%1/%2.%3.db").arg(dir, date).arg(n);
    };
    // The fresh file is ready before the day moves, and replaces the live
    // name in one rename: the live name never goes missing, and never gets
    // the template while the day is not archived.
    const QString fresh = live + QStringLiteral(".new");
    QFile::remove(fresh);
    if (!makeEmptyDay(fresh)) {
        qWarning() << "statistics: no fresh file for the next day; the day stays in" << live;
        QFile::remove(fresh);
        return false;
    }
    QFile(fresh).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                | QFileDevice::WriteGroup | QFileDevice::ReadOther);
    syncPath(fresh);
    QString target;
    // A kill between the link and the rename left both names on one file.
    for (int n = 0; QFileInfo::exists(candidate(n)); ++n)
        if (sameFile(candidate(n), live)) {
            target = candidate(n);
            break;
        }
    if (target.isEmpty()) {
        for (int n = 0; n < 1000; ++n) {
            const QString t = candidate(n);
            if (::link(QFile::encodeName(live).constData(), QFile::encodeName(t).constData()) == 0) {
                target = t;
                if (n > 0)
                    qWarning() << "statistics: archive of" << date << "exists already; this one is" << t;
                break;
            }
            if (errno != EEXIST) {
                qWarning() << "statistics: cannot archive" << live << "as" << t << ":" << std::strerror(errno);
                break;
            }
        }
        if (target.isEmpty()) {
            QFile::remove(fresh);
            return false;
        }
        syncPath(dir);
    }
    if (::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(live).constData()) != 0) {
        // Both names still lead to the archived day; the next try finds it.
        qWarning() << "statistics: cannot start a fresh" << live << ":" << std::strerror(errno);
        QFile::remove(fresh);
        return false;
    }
    syncPath(QFileInfo(live).absolutePath());
    emit sigArchived(target);
    return true;
}

void ResStatisticsDatabase::slotUpdateRecord(QString path) { loadCountFromJson(path); }

void ResStatisticsDatabase::loadCountFromJson(QString path)
{
    QJsonObject doc;
    bool ok = false;
    {
        StatisticsConnection c(QStringLiteral("dbFindResStatistics"), path);
        if (c.open()) {
            doc = loadCountFromJson(QSqlQuery(c.db()), path);
            ok = true;
        }
    }
    emit sigLoadFinish(ok ? doc : QJsonObject(), ok);
}

void ResStatisticsDatabase::loadCountFromJson(QString path, QJsonObject& out)
{
    StatisticsConnection c(QStringLiteral("dbFindResStatistics"), path);
    if (c.open())
        out = loadCountFromJson(QSqlQuery(c.db()), path);
}

QJsonObject ResStatisticsDatabase::loadCountFromJson(QSqlQuery query, QString path)
{
    QString text;
    if (query.exec(QLatin1String(kSelectDoc)) && query.next())
        text = query.value(0).toString();
    query.finish();
    if (text.isEmpty()) {
        // Legacy layout: one row per camera and detection.
        CountGroup group;
        group.morningStart = 8;
        group.nightStart = 20;
        ResStatisticsParam::initStuCountGroup(group, QStringLiteral("default"));
        loadCountFromJson(group, query);
        const QString base = removeSuffix(path);
        CountGroupList list;
        if (base != QLatin1String("ResStatistics")) {
            list.date = base.section(QLatin1Char('.'), 0, 0);
        } else {
            list.date = m_param ? m_param->getCurDBDate() : StatisticsTime::now().date().toString(QStringLiteral("yyyy-MM-dd"));
            if (m_param) {
                group.groupName = m_param->getCurGroupName();
                // Slot 0 of the current day lies at the model's day start,
                // which readers take from the group.
                group.morningStart = m_param->dayStartHour();
                group.nightStart = m_param->nightStart;
            }
        }
        list.groups = {group};
        const QJsonObject doc = ResStatisticsParam::StuCountToJson(list);
        if (!m_writeBack)
            return doc;
        saveCountFromJson(doc, query);
        bool row = false;
        if (query.exec(QLatin1String(kSelectDoc)) && query.next()) {
            row = true;
            text = query.value(0).toString();
        }
        query.finish();
        if (row && text.isEmpty())
            qInfo() << "resstatistics laod statisticsjson fail";
        if (text.isEmpty())
            text = QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented));
    }
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

bool ResStatisticsDatabase::loadCountFromJson(CountGroup& group, QSqlQuery& query)
{
    for (int c = 0; c < numCamera && c < group.datas.size(); ++c)
        loadCountCamera(group.datas[c], c, query);
    loadCountCamera(group.total, kStatTotalIndex, query);
    group.groupName = QStringLiteral("default");
    return true;
}

bool ResStatisticsDatabase::loadCountCamera(CountCamera& camera, int cameraIndex, QSqlQuery query)
{
    const QString sql = QStringLiteral("select value1 ,value2 from resstatistics where name='C%1_D%2'");
    for (int d = 0; d < gDNum && d < camera.data.size(); ++d)
        loadCountDetect(camera.data[d], sql.arg(cameraIndex).arg(d), query);
    loadCountDetect(camera.total, sql.arg(cameraIndex).arg(kStatTotalIndex), query);
    return true;
}

bool ResStatisticsDatabase::loadCountDetect(CountDetect& detect, QString sql, QSqlQuery query)
{
    if (!query.exec(sql) || !query.next())
        return false;
    auto fill = [](QList<int>& cells, const QString& text) {
        const QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        for (int i = 0; i < words.size() && i < kStatSlots; ++i) {
            bool ok = false;
            const int v = words[i].toInt(&ok);
            if (!ok)
                break;
            while (cells.size() <= i)
                cells.append(0);
            cells[i] = v;
        }
    };
    fill(detect.OK, query.value(0).toString());
    fill(detect.NG, query.value(1).toString());
    query.finish();
    return true;
}
