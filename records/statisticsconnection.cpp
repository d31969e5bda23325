#include "records/statisticsconnection.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <atomic>

namespace {
std::atomic<quint64> g_serial{0};
}

StatisticsConnection::StatisticsConnection(const QString& baseName, const QString& path)
    : m_name(QStringLiteral("%1_%2_%3")
                 .arg(baseName)
                 .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16)
                 .arg(g_serial.fetch_add(1)))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
}

StatisticsConnection::~StatisticsConnection()
{
    if (m_db.isOpen())
        m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool StatisticsConnection::open(bool verify)
{
    // SQLite would create a missing file; a day that is not there must stay
    // missing, and a folder is never a database.
    const QFileInfo fi(m_db.databaseName());
    if (!fi.exists() || !fi.isFile())
        return false;
    if (!m_db.open())
        return false;
    if (!verify)
        return true;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()
        || q.value(0).toString() != QLatin1String("ok")) {
        q.finish();
        m_db.close();
        return false;
    }
    return true;
}

void StatisticsConnection::setReadOnly()
{
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1;QSQLITE_OPEN_READONLY").arg(kBusyTimeoutMs));
}

void StatisticsConnection::setPath(const QString& path)
{
    if (m_db.isOpen())
        m_db.close();
    m_db.setDatabaseName(path);
}
