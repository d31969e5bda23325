#pragma once
#include <QJsonArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class QSqlQuery;

// Free helpers that adapt an existing SQLite table to a newer layout, turn a
// JSON array into a string list and read a tool's text report. They keep no
// state; failures are reported by the result and a warning in the log.

// True when `table` of `db` has a column named exactly `column`.
bool columnExists(QSqlDatabase& db, const QString& table, const QString& column);

// Adds the column when it is missing. True only when it was added; false when
// it already existed or the statement failed (the table stays as it was).
bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type);

// Writes value under name in a (name, value) table: updates the row, or adds
// it when it is missing, so a lost row can never swallow later changes. Values
// are bound, never pasted. False when a statement failed.
bool writeNameValueRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value);

// The string elements of the array, in order; other elements are skipped.
QStringList jsonArray2StringList(QJsonArray array);

// False when a line of the report holding the word "Received" gives 0 (or no
// number) as its second word; true otherwise, also for an empty text.
bool checkDevelop(QString text);
