#pragma once
#include <QFileInfo>
#include <QList>
#include <QString>
#include <string>

// Small text and number conversions, identifiers and file listings.

// 8 characters "0"/"1"; character i is bit i of v.
QString ChgIO_Int2ASCII(int v);
// Each decimal digit n at position i of s is ORed in as n << i.
int ChgIO_ASCII2Int(const QString& s);
// "1;2;3;" for the list 1, 2, 3.
QString listint_2_string(QList<int> list);
// Parts between ";" that read as decimal ints.
QList<int> string_2_listint(QString text);
// IPv4 text to an address in network byte order (inet_addr).
quint32 string2nint(const std::string& text);
// Address in network byte order to text (inet_ntoa).
std::string nint2string(quint32 addr);

// "SC_#<8 hex digits>_#<yyyyMMdd_hhmmsszzz>".
QString new_uuid();
// Appends every file below dir, depth first, as absolute QFileInfo.
void FoundAllFile(QList<QFileInfo>& out, QString dir);
// Oldest first by modification time; equal times keep their order.
void SortFileByTime(QList<QFileInfo>& list);
