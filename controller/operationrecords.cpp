#include "controller/operationrecords.h"
#include "frame/safefile.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/databasefile.h"
#include "frame/dbconfighelpers.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "netservices/viewwatch2zel.h"
#include "netservices/zev_netmn.h"
#include "platform/commandrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>

#include <glog/logging.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

const char* const OperationRecords::kConnection = "dbRecord";
const char* const OperationRecords::kDbFile = "RECORD.db";
const char* const OperationRecords::kTemplate = "RECORDNULL.db";
const char* const OperationRecords::kArchiveDir = "RECORD";
const char* const OperationRecords::kDayFile = "time.txt";

namespace {

const int kDayCheckMs = 60000;

QString today()
{
    return clockNow().date().toString(QStringLiteral("yyyy-MM-dd"));
}

// A stored day is used in a file name: only a real date in its own format
// may reach a path ("../x" or "2026-13-45" must not).
bool isDay(const QString& s)
{
    const QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
    return d.isValid() && d.toString(QStringLiteral("yyyy-MM-dd")) == s;
}

// path, or path with _1, _2... before the suffix when it exists already.
QString uniquePath(const QString& base, const QString& suffix)
{
    QString p = base + suffix;
    for (int i = 1; QFileInfo::exists(p); ++i)
        p = QStringLiteral("%1_%2%3").arg(base).arg(i).arg(suffix);
    return p;
}

// The columns every journal file and its template must have (the kind
// column is added where it is missing).
const QString kColumns = QStringLiteral("recordtime, recordpassword, remarks");

// Rows of table RECORD in path; -1 when it cannot be read.
int rowCount(const QString& path)
{
    const QString name = QStringLiteral("recordcount_%1").arg(quintptr(QThread::currentThreadId()));
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT count(*) FROM RECORD")) && q.next())
                n = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return n;
}

std::string row(const QString& time, const QString& level, const QString& text, const QString& type)
{
    return QStringLiteral("%1 | %2 | %3 | %4").arg(time, level, type, text).toStdString();
}

bool createTable(const QString& path, bool withType)
{
    const QString name = QStringLiteral("recordtemplate_%1").arg(quintptr(QThread::currentThreadId()));
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT%1)")
                            .arg(withType ? QStringLiteral(", recordtype TEXT") : QString()));
            if (!ok)
                LOG(ERROR) << "journal: cannot create table in " << path.toStdString() << ": "
                           << q.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

OperationRecords::OperationRecords(QObject* parent)
    : QObject(parent)
{
}

OperationRecords* OperationRecords::instance()
{
    static QMutex lock;
    static OperationRecords* one = nullptr;
    QMutexLocker l(&lock);
    if (!one) {
        one = new OperationRecords;
        if (QCoreApplication* app = QCoreApplication::instance())
            one->moveToThread(app->thread());
    }
    return one;
}

ViewWatch2ZEL* OperationRecords::viewerLink()
{
    return m_link ? m_link : ZEV_NETMN::getInstance()->viewWatch();
}

QString OperationRecords::levelName(int loginLevel)
{
    return messageText(loginLevel == 2 ? 154 : loginLevel == 1 ? 155 : 156);
}

QSqlDatabase OperationRecords::database() const
{
    const QString name = QString::fromLatin1(kConnection);
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name, false);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QString::fromLatin1(kDbFile));
    return db;
}

void OperationRecords::close()
{
    m_insert = QSqlQuery();
    m_prepared = false;
    database().close();
}

bool OperationRecords::ensureOpen()
{
    QSqlDatabase db = database();
    if (db.isOpen() && m_prepared)
        return true;
    // Closed elsewhere (the window's shut-down path) or never opened: the
    // statement prepared on the old handle is gone with it.
    m_insert = QSqlQuery();
    m_prepared = false;
    if (!db.isOpen() && !db.open()) {
        LOG(ERROR) << "journal: cannot open " << kDbFile << ": " << db.lastError().text().toStdString();
        return false;
    }
    addColumnIfNotExists(db, QStringLiteral("RECORD"), QStringLiteral("recordtype"), QStringLiteral("TEXT"));
    m_insert = QSqlQuery(db);
    m_prepared = m_insert.prepare(QStringLiteral(
        "INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)"));
    if (!m_prepared)
        LOG(ERROR) << "journal: " << kDbFile << " takes no entries: " << m_insert.lastError().text().toStdString();
    return m_prepared;
}

namespace {

// At most `limit` entries of path (all for -1) from the one numbered `from`
// on, with their numbers.
bool readPage(const QString& path, qint64 from, int limit, QVector<OperationRecords::Row>* rows,
              QVector<qint64>* numbers)
{
    rows->clear();
    numbers->clear();
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("recordread_%1").arg(serial++);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            // SELECT *: a file from before the kind column has none.
            ok = q.prepare(QStringLiteral("SELECT rowid, * FROM RECORD WHERE rowid >= ? ORDER BY rowid LIMIT ?"));
            q.addBindValue(from);
            q.addBindValue(limit);
            ok = ok && q.exec();
            if (ok) {
                const QSqlRecord cols = q.record();
                const int time = cols.indexOf("recordtime"), level = cols.indexOf("recordpassword"),
                          text = cols.indexOf("remarks"), type = cols.indexOf("recordtype");
                auto col = [&q](int i) { return i < 0 ? QString() : q.value(i).toString(); };
                while (q.next()) {
                    rows->append(OperationRecords::Row{col(time), col(level), col(text), col(type)});
                    numbers->append(q.value(0).toLongLong());
                }
            } else {
                LOG(WARNING) << "journal: " << path.toStdString() << ": " << q.lastError().text().toStdString();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool fileId(const QString& path, quint64* device, quint64* inode)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *device = quint64(st.st_dev);
    *inode = quint64(st.st_ino);
    return true;
}

} // namespace

bool OperationRecords::readRows(const QString& path, QVector<Row>* rows)
{
    rows->clear();
    if (!QFile::exists(path))
        return true;
    QVector<qint64> numbers;
    return readPage(path, std::numeric_limits<qint64>::min(), -1, rows, &numbers);
}

OperationRecords::DayReading::DayReading(const QString& path, const QString& day)
    : m_path(path)
    , m_day(day)
{
    m_exists = fileId(path, &m_device, &m_inode);
}

bool OperationRecords::DayReading::isTheFile(const QString& path) const
{
    quint64 device = 0, inode = 0;
    return fileId(path, &device, &inode) && device == m_device && inode == m_inode;
}

// Where the day change puts a day's file: ./RECORD/<day>.db, or <day>_<n>.db
// beside the ones that were there.
QString OperationRecords::DayReading::nameNow() const
{
    if (isTheFile(m_path))
        return m_path;
    const QString base = QDir(QString::fromLatin1(kArchiveDir)).filePath(m_day);
    QString p = base + QStringLiteral(".db");
    for (int i = 1; QFileInfo::exists(p); ++i) {
        if (isTheFile(p))
            return p;
        p = QStringLiteral("%1_%2.db").arg(base).arg(i);
    }
    return QString();
}

bool OperationRecords::DayReading::next(int limit, QVector<Row>* rows)
{
    rows->clear();
    if (!m_exists)
        return true;
    // A name that changes while it is read (the day change renaming a fresh
    // file over RECORD.db) may have given the new file's entries: they are
    // read again where the file went. A name never comes back to a file.
    for (int tries = 0; tries < 3; ++tries) {
        const QString name = nameNow();
        if (name.isEmpty()) {
            LOG(WARNING) << "journal: the file of " << m_day.toStdString() << " went away while it was read";
            return false;
        }
        QVector<Row> page;
        QVector<qint64> numbers;
        // From the last entry read on, which must still stand as it was.
        if (!readPage(name, m_begun ? m_last : std::numeric_limits<qint64>::min(),
                      m_begun && limit >= 0 ? limit + 1 : limit, &page, &numbers))
            return false;
        if (!isTheFile(name))
            continue;
        if (m_begun) {
            if (numbers.isEmpty() || numbers.first() != m_last || !(page.first() == m_lastRow)) {
                LOG(WARNING) << "journal: " << name.toStdString() << " was cleared while it was read";
                return false;
            }
            page.removeFirst();
            numbers.removeFirst();
        }
        if (!page.isEmpty()) {
            m_begun = true;
            m_last = numbers.last();
            m_lastRow = page.last();
        }
        *rows = std::move(page);
        return true;
    }
    LOG(WARNING) << "journal: the file of " << m_day.toStdString() << " kept changing its name while it was read";
    return false;
}

bool OperationRecords::InsertRecord(const QString& text, const QString& type)
{
    // The entry's time is when it was written, wherever it is stored.
    const QString time = clockNow().time().toString(QStringLiteral("hh.mm.ss"));
    if (QThread::currentThread() != thread() && !StationExit::closed()) {
        // The connection may only be used on its own thread.
        return QMetaObject::invokeMethod(this, "insertHere", Qt::QueuedConnection, Q_ARG(QString, time),
                                         Q_ARG(QString, text), Q_ARG(QString, type));
    }
    return insertHere(time, text, type);
}

bool OperationRecords::insertHere(const QString& time, const QString& text, const QString& type)
{
    const QString level = levelName(gpWin ? gpWin->loginLevel : 0);
    // The end's row is the last: what comes later (a late request, a timer)
    // is neither stored nor sent.
    if (StationExit::closed()) {
        LOG(WARNING) << "journal closed by the station's end, entry refused: " << row(time, level, text, type);
        return false;
    }
    // The viewer gets its copy first, whatever becomes of the row.
    viewerLink()->sndRecordOperate(QJsonObject{
        {"recordtime", time}, {"recordpassword", level}, {"remarks", text}, {"recordtype", type}});
    if (!ensureOpen()) {
        LOG(ERROR) << "journal entry not stored: " << row(time, level, text, type);
        return false;
    }
    m_insert.bindValue(0, time);
    m_insert.bindValue(1, level);
    m_insert.bindValue(2, text);
    m_insert.bindValue(3, type);
    if (!m_insert.exec()) {
        LOG(ERROR) << "journal entry not stored (" << m_insert.lastError().text().toStdString()
                   << "): " << row(time, level, text, type);
        return false;
    }
    m_insert.finish();
    return true;
}

bool OperationRecords::ClearRecord()
{
    if (StationExit::closed()) {
        LOG(WARNING) << "journal closed by the station's end, not cleared";
        return false;
    }
    if (!ensureOpen())
        return false;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("DELETE FROM RECORD"))) {
        LOG(ERROR) << "journal: not cleared: " << q.lastError().text().toStdString();
        return false;
    }
    return true;
}

bool OperationRecords::writeDay(const QString& day)
{
    QSaveFile f(QString::fromLatin1(kDayFile));
    if (!f.open(QIODevice::WriteOnly) || f.write(day.toLatin1()) != day.size() || !f.commit()) {
        LOG(WARNING) << "journal: " << kDayFile << " not written";
        return false;
    }
    return true;
}

QString OperationRecords::freshFile()
{
    // Made beside the journal and renamed over it, so RECORD.db is always whole.
    const QString tmp = QStringLiteral("%1.new").arg(QString::fromLatin1(kDbFile));
    QFile::remove(tmp);
    // A damaged template would give a journal that takes no entry: it is
    // only copied when it holds the table, else the table is made as the
    // factory tool makes it.
    static bool told = false;
    QString why;
    bool made = false;
    if (DatabaseFile::check(QString::fromLatin1(kTemplate), QStringLiteral("RECORD"), &why, kColumns)
        == DatabaseFile::Usable)
        made = QFile::copy(QString::fromLatin1(kTemplate), tmp);
    if (!made) {
        if (!told)
            LOG(WARNING) << "journal: " << kTemplate << " missing or unusable (" << why.toStdString()
                         << "), the table is made anew";
        told = true;
        made = createTable(tmp, true);
    }
    if (!made) {
        LOG(ERROR) << "journal: no fresh " << kDbFile << " could be made";
        QFile::remove(tmp);
        return QString();
    }
    QFile::setPermissions(tmp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
                                   | QFile::ReadOther);
    return tmp;
}

bool OperationRecords::putInPlace(const QString& fresh)
{
    // rename(2) replaces the old name in one step.
    if (::rename(QFile::encodeName(fresh).constData(), kDbFile) != 0) {
        LOG(ERROR) << "journal: new " << kDbFile << " not put in place: " << std::strerror(errno);
        QFile::remove(fresh);
        return false;
    }
    return true;
}

bool OperationRecords::replaceFromTemplate()
{
    const QString fresh = freshFile();
    return !fresh.isEmpty() && putInPlace(fresh);
}

bool OperationRecords::SlotCheckDate()
{
    const QString now = today();
    // After the end the day's file stays as the end left it.
    if (now == m_day || StationExit::closed())
        return true;
    close();
    if (QFile::exists(QString::fromLatin1(kDbFile))) {
        const QString fresh = freshFile();
        if (fresh.isEmpty())
            return false; // the day's file stays in use; the next check tries again
        QDir().mkpath(QString::fromLatin1(kArchiveDir));
        const QString day = isDay(m_day) ? m_day : QStringLiteral("unknown-day");
        const QString base = QDir(QString::fromLatin1(kArchiveDir)).absoluteFilePath(day);
        const QString dbFile = QString::fromLatin1(kDbFile);
        // A rotation cut off by a kill is finished, not repeated: after the
        // link the day's file already has its archive name; after the
        // replacement RECORD.db is the empty successor of an archived day.
        QString target;
        bool archived = false;
        QString p = base + QStringLiteral(".db");
        for (int i = 1; QFileInfo::exists(p) && !archived; ++i) {
            archived = sameFile(p, dbFile);
            target = p;
            p = QStringLiteral("%1_%2.db").arg(base).arg(i);
        }
        if (!archived && !target.isEmpty() && rowCount(dbFile) == 0)
            archived = true;
        if (!archived)
            target = uniquePath(base, QStringLiteral(".db"));
        // The archive name is added first (a hard link; a move where the file
        // system has none), then the fresh file replaces the old name: at no
        // moment is RECORD.db missing, and an existing archive is never hit.
        const QByteArray from = QFile::encodeName(dbFile);
        if (!archived && ::link(from.constData(), QFile::encodeName(target).constData()) != 0
            && !QFile::rename(dbFile, target)) {
            // Today's rows stay where they are; the next check tries again.
            LOG(ERROR) << "journal: " << kDbFile << " not moved to " << target.toStdString()
                       << ", the day's entries stay in it";
            QFile::remove(fresh);
            return false;
        }
        LOG(INFO) << "journal: day " << day.toStdString() << " kept as " << target.toStdString();
        putInPlace(fresh);
    } else {
        replaceFromTemplate();
    }
    m_day = now;
    writeDay(m_day);
    return true;
}

bool OperationRecords::checkRecordFileAtStart()
{
    if (QFile::exists(QString::fromLatin1(kDbFile)))
        return true;
    LOG(ERROR) << "journal: " << kDbFile << " missing at start, restoring it from " << kTemplate;
    // The language is not known yet: the notice is always English.
    QString text = gaLanStr[4 * 135 + 1];
    if (text.isEmpty())
        text = QStringLiteral("Database failed to open, please restart!");
    tellOperator(135, text);
    CommandRunner::system(QStringLiteral("cp -f %1 %2").arg(QString::fromLatin1(kTemplate), QString::fromLatin1(kDbFile)));
    CommandRunner::system(QStringLiteral("sync"));
    CommandRunner::system(QStringLiteral("reboot"));
    StationExit::wentDown(StationExit::Reboot);
    return false;
}

bool OperationRecords::openAtStart()
{
    close();
    if (!QFile::exists(QString::fromLatin1(kDbFile)))
        replaceFromTemplate();
    QString why;
    const DatabaseFile::State state = DatabaseFile::checkWaiting(QString::fromLatin1(kDbFile), QStringLiteral("RECORD"),
                                                                 &why, 5, 1000, kColumns);
    if (state == DatabaseFile::Busy) {
        // Another program holds the journal: its rows are not lost, and are
        // not replaced either. Entries go to the log until it lets go.
        LOG(ERROR) << "journal: " << kDbFile << " stays locked by another program: " << why.toStdString();
        tellOperator(764, messageText(764).arg(QString::fromLatin1(kDbFile)));
    } else if (state != DatabaseFile::Usable) {
        const QString kept = uniquePath(QStringLiteral("%1.damaged").arg(QString::fromLatin1(kDbFile)), QString());
        LOG(ERROR) << "journal: " << kDbFile << " is not a usable journal (" << why.toStdString() << "), kept as "
                   << kept.toStdString() << " and replaced";
        if (!QFile::rename(QString::fromLatin1(kDbFile), kept))
            LOG(ERROR) << "journal: damaged " << kDbFile << " could not be moved aside";
        else
            replaceFromTemplate();
    }
    if (!QFileInfo(QString::fromLatin1(kDbFile)).isWritable())
        LOG(ERROR) << "journal: " << kDbFile << " is read-only, entries will go to the log";
    if (gpWin)
        gpWin->recordDb = database();
    return ensureOpen();
}

void OperationRecords::makeArchiveDir()
{
    if (!QDir().mkpath(QString::fromLatin1(kArchiveDir)))
        LOG(ERROR) << "journal: folder ./" << kArchiveDir << " not created";
}

void OperationRecords::loadDayAndCheck()
{
    QFile f;
    QString day;
    // Only a regular file: a FIFO here would hold the start-up for good.
    if (openRegularFile(f, QString::fromLatin1(kDayFile))) {
        day = QString::fromLatin1(f.read(64)).simplified().section(QLatin1Char(' '), 0, 0);
        f.close();
        if (!isDay(day)) {
            LOG(WARNING) << "journal: " << kDayFile << " holds no date, taking today";
            day = today();
            writeDay(day);
        }
    } else {
        day = today();
        writeDay(day);
    }
    m_day = day;
    SlotCheckDate();
}

void OperationRecords::scheduleDayCheck()
{
    Clock* c = Clock::instance();
    c->singleShot(kDayCheckMs, this, [this, c] {
        if (c != m_timerClock)
            return; // a newer clock runs its own check
        SlotCheckDate();
        scheduleDayCheck();
    });
}

void OperationRecords::startDayTimerAndRecordReady(int cameras)
{
    if (m_timerClock != Clock::instance()) {
        m_timerClock = Clock::instance();
        scheduleDayCheck();
    }
    InsertRecord(messageText(150).arg(cameras), QStringLiteral("info"));
}

void OperationRecords::runStartup(int cameras)
{
    checkRecordFileAtStart();
    openAtStart();
    makeArchiveDir();
    loadDayAndCheck();
    startDayTimerAndRecordReady(cameras);
}

bool OperationRecords::writeTemplate(const QString& path)
{
    QFile::remove(path);
    return createTable(path, false);
}
