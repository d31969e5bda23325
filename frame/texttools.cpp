#include "frame/texttools.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QUuid>

#include <arpa/inet.h>
#include <netinet/in.h>

QString ChgIO_Int2ASCII(int v)
{
    QString s;
    for (int i = 0; i < 8; ++i)
        s += ((v >> i) & 1) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

int ChgIO_ASCII2Int(const QString& s)
{
    unsigned int result = 0;
    // Positions beyond the int's bits cannot contribute (and shifting that
    // far is undefined).
    for (int i = 0; i < s.size() && i < 31; ++i) {
        const QChar c = s.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            result |= static_cast<unsigned int>(c.unicode() - '0') << i;
    }
    return static_cast<int>(result);
}

QString listint_2_string(QList<int> list)
{
    QString s;
    for (int v : list)
        s += QString::number(v) + QLatin1Char(';');
    return s;
}

QList<int> string_2_listint(QString text)
{
    QList<int> out;
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok, 10);
        if (ok)
            out.append(v);
    }
    return out;
}

quint32 string2nint(const std::string& text)
{
    return static_cast<quint32>(inet_addr(text.c_str()));
}

std::string nint2string(quint32 addr)
{
    in_addr a;
    a.s_addr = addr;
    char buf[INET_ADDRSTRLEN] = {0};
    // inet_ntop: the same text as inet_ntoa without its shared static buffer.
    if (!inet_ntop(AF_INET, &a, buf, sizeof(buf)))
        return std::string();
    return std::string(buf);
}

QString new_uuid()
{
    QString u = QUuid::createUuid().toString().remove(QLatin1Char('{'));
    const QStringList groups = u.split(QLatin1Char('-'));
    const QString first = groups.isEmpty() || groups.first().isEmpty() ? QStringLiteral("0") : groups.first();
    return QStringLiteral("SC_#%1_#%2")
        .arg(first, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmsszzz")));
}

void FoundAllFile(QList<QFileInfo>& out, QString dir)
{
    QDir d(dir);
    if (!d.exists())
        return;
    const QFileInfoList entries = d.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
        if (fi.isDir() && !fi.isSymLink())
            FoundAllFile(out, fi.absoluteFilePath());
        else if (fi.isFile())
            out.append(QFileInfo(fi.absoluteFilePath()));
    }
}

void SortFileByTime(QList<QFileInfo>& list)
{
    // Exchange sort: stable, neighbours swap only when the later is older.
    for (int pass = 0; pass < list.size(); ++pass) {
        bool swapped = false;
        for (int i = 0; i + 1 < list.size() - pass; ++i) {
            if (list[i + 1].lastModified() < list[i].lastModified()) {
                list.swapItemsAt(i, i + 1);
                swapped = true;
            }
        }
        if (!swapped)
            break;
    }
}
