#include "frame/databasefile.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "platform/commandrunner.h"

#include <QAtomicInt>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <fcntl.h>
#include <unistd.h>

namespace {

// SQLite's result codes for a lock held by another connection.
bool isBusy(const QSqlError& e)
{
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6")
        || e.databaseText().contains(QLatin1String("locked"));
}

bool syncFile(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

DatabaseFile::State DatabaseFile::check(const QString& fileName, const QString& table, QString* why,
                                        const QString& columns)
{
    if (!QFileInfo(fileName).isFile()) {
        if (why)
            *why = QStringLiteral("no such file");
        return Missing;
    }
    static QAtomicInt serial;
    const QString name = QStringLiteral("databasefile-check-%1").arg(serial.fetchAndAddRelaxed(1));
    State state = Usable;
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        // Read-write: a save cut off by a crash left a hot journal, and only
        // a writer rolls it back; read-only, that file would look damaged.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
        if (!db.open()) {
            reason = db.lastError().text();
            state = isBusy(db.lastError()) ? Busy : Damaged;
        } else {
            QSqlQuery q(db);
            const auto fail = [&](const QSqlError& e) {
                reason = e.text();
                state = isBusy(e) ? Busy : Damaged;
            };
            if (!q.exec(QStringLiteral("pragma quick_check")) || !q.next()) {
                fail(q.lastError());
            } else if (q.value(0).toString() != QLatin1String("ok")) {
                reason = QStringLiteral("integrity check: ") + q.value(0).toString();
                state = Damaged;
            } else if (!q.exec(QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'")
                                   .arg(table))
                       || !q.next()) {
                fail(q.lastError());
            } else if (q.value(0).toInt() == 0) {
                reason = QStringLiteral("no table %1").arg(table);
                state = Empty;
            } else if (!q.exec(QStringLiteral("select %1 from %2 limit 1").arg(columns, table))) {
                fail(q.lastError());
            }
            q.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (why)
        *why = reason;
    return state;
}

DatabaseFile::State DatabaseFile::checkWaiting(const QString& fileName, const QString& table, QString* why,
                                               int attempts, int waitMs, const QString& columns)
{
    State s = check(fileName, table, why, columns);
    for (int i = 1; i < attempts && s == Busy; ++i) {
        qWarning().noquote() << fileName << "is busy, waiting:" << (why ? *why : QString());
        Clock::instance()->sleepMs(waitMs);
        s = check(fileName, table, why, columns);
    }
    return s;
}

bool DatabaseFile::keepAside(const QString& fileName)
{
    if (!QFileInfo::exists(fileName))
        return true;
    const QString aside = fileName + QStringLiteral(".damaged");
    QFile::remove(aside);
    if (!QFile::rename(fileName, aside)) {
        qCritical().noquote() << fileName << "cannot be kept aside as" << aside;
        return false;
    }
    qWarning().noquote() << fileName << "kept aside as" << aside;
    return true;
}

bool DatabaseFile::replaceWith(const QString& source, const QString& target, const QString& table, QString* why)
{
    QString reason;
    const QString temp = target + QStringLiteral(".restoring");
    QFile::remove(temp);
    bool ok = QFile::copy(source, temp);
    if (!ok)
        reason = QStringLiteral("cannot copy %1").arg(source);
    if (ok && !syncFile(temp, false)) {
        reason = QStringLiteral("cannot flush %1").arg(temp);
        ok = false;
    }
    if (ok && check(temp, table, &reason) != Usable) {
        reason = QStringLiteral("the copy of %1 is not usable: %2").arg(source, reason);
        ok = false;
    }
    // rename(2) replaces the target in one step; QFile::rename would not
    // overwrite an existing file.
    if (ok && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        reason = QStringLiteral("cannot rename %1 over %2").arg(temp, target);
        ok = false;
    }
    if (ok)
        syncFile(QFileInfo(target).absolutePath(), true);
    else
        QFile::remove(temp);
    if (why)
        *why = reason;
    return ok;
}

void DatabaseFile::restoreFactoryCopy(const QString& fileName, const QString& table)
{
    keepAside(fileName);
    QString failed;
    if (!replaceWith(QStringLiteral("./paraGroup/default/") + fileName, fileName, table, &failed))
        qCritical().noquote() << fileName + QStringLiteral(": factory copy not restored:") << failed;
    CommandRunner::system(QStringLiteral("sync"));
    CommandRunner::system(QStringLiteral("reboot"));
    StationExit::wentDown(StationExit::Reboot);
}
