#pragma once
#include <QSqlDatabase>
#include <QString>

// One SQLite connection to a statistics file for the length of one
// operation. Every instance gets a connection name of its own (base name,
// thread and a serial number), so a query on the HTTP thread and a load on
// the worker never remove each other's connection, and every connection
// waits for a busy file instead of reading nothing.
class StatisticsConnection
{
public:
    StatisticsConnection(const QString& baseName, const QString& path);
    ~StatisticsConnection();
    StatisticsConnection(const StatisticsConnection&) = delete;
    StatisticsConnection& operator=(const StatisticsConnection&) = delete;

    // Opens the file; with verify, also proves that it is a sound SQLite
    // database (a file that is not one opens fine and fails on first use).
    bool open(bool verify = false);
    // Opens files read-only from now on: a reader that must never change a
    // day file (the export) cannot, even by mistake.
    void setReadOnly();
    // Points the connection at another file (closing the current one); one
    // connection serves a whole walk over many day files.
    void setPath(const QString& path);
    QSqlDatabase& db() { return m_db; }
    QString name() const { return m_name; }

    static constexpr int kBusyTimeoutMs = 5000;

private:
    QString m_name;
    QSqlDatabase m_db;
};
