#include "frame/dbconfighelpers.h"

#include <QDebug>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Table, column and type names cannot be bound in SQL; quote them as
// identifiers so a name can never end the statement early.
QString identifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

bool columnExists(QSqlDatabase& db, const QString& table, const QString& column)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1);").arg(identifier(table)))) {
        qWarning() << "Failed to get table info:" << db.lastError().text() << q.lastError().text();
        return false;
    }
    while (q.next()) {
        if (q.value(1).toString() == column)
            return true;
    }
    return false;
}

bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type)
{
    if (columnExists(db, table, column)) {
        qDebug() << "Column" << column << "already exists in table" << table;
        return false;
    }
    // The type is a declared SQLite type such as TEXT or INTEGER DEFAULT 0;
    // anything that could start another statement is refused.
    if (type.contains(QLatin1Char(';'))) {
        qWarning() << "Failed to add column:" << "bad column type" << type;
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3;").arg(identifier(table), identifier(column), type))) {
        qWarning() << "Failed to add column:" << q.lastError().text();
        return false;
    }
    qDebug() << "Column" << column << "added to table" << table;
    return true;
}

QStringList jsonArray2StringList(QJsonArray array)
{
    QStringList out;
    for (const QJsonValue& v : array) {
        if (v.isString())
            out << v.toString();
    }
    return out;
}

bool checkDevelop(QString text)
{
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    for (const QString& line : lines) {
        const QStringList words = line.split(QLatin1Char(' '));
        if (!words.contains(QStringLiteral("Received")))
            continue;
        const int count = words.size() > 1 ? words.at(1).toInt() : 0;
        if (count == 0)
            return false;
    }
    return true;
}

bool writeNameValueRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value)
{
    q.prepare(QStringLiteral("update %1 set value=? where name=?").arg(table));
    q.addBindValue(value);
    q.addBindValue(name);
    if (!q.exec())
        return false;
    if (q.numRowsAffected() > 0)
        return true;
    q.prepare(QStringLiteral("insert into %1 values(?, ?)").arg(table));
    q.addBindValue(name);
    q.addBindValue(value);
    return q.exec();
}
