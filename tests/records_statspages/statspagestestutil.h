#pragma once
// Day files, a simulated USB drive and the CSV reader shared by the
// statistics page and export tests.
#include "platform/commandrunner.h"
#include "records_statistics/statstestutil.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>

// One detection record with counts ok[i], ng[i] at slot i.
inline QJsonObject detectDoc(int id, const QList<int>& ok, const QList<int>& ng)
{
    QJsonArray o, n;
    for (int i = 0; i < 24; ++i) {
        o << (i < ok.size() ? ok[i] : 0);
        n << (i < ng.size() ? ng[i] : 0);
    }
    return {{"detectID", id}, {"OK", o}, {"NG", n}};
}

// A day of one group, 2 cameras and 2 detections; every record's count at
// slot i derives from seed so each cell differs.
inline QJsonObject dayDoc(const QString& date, const QString& group, int seed, int morningStart = 8)
{
    QJsonArray datas;
    for (int c : {0, 1, -1}) {
        QJsonArray data;
        for (int d : {0, 1, -1}) {
            QList<int> ok, ng;
            for (int i = 0; i < 24; ++i) {
                ok << (seed + i * 3 + (c + 2) * 5 + (d + 2)) % 17;
                ng << (seed + i + c * 2 + d) % 5;
            }
            data << detectDoc(d, ok, ng);
        }
        datas << QJsonObject{{"cameraID", c}, {"data", data}};
    }
    QJsonObject g{{"groupName", group}, {"morningStart", morningStart}, {"nightStart", (morningStart + 12) % 24},
                  {"cameraCount", 2}, {"detectCount", 2}, {"datas", datas}};
    return {{"date", date}, {"groups", QJsonArray{g}}};
}

// A simulated USB stick sdb1 beside the system disk sda, optionally mounted at /mnt.
inline QString addDrive(const TestEnv& env, bool mount)
{
    const QString drive = env.simRoot() + "/drives/sdb1";
    QDir().mkpath(drive);
    if (!QFileInfo::exists(env.simRoot() + "/proc/mounts"))
        env.writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n");
    env.writeSimFile("/cmd/blkid.out", "/dev/sda2: UUID=\"a\" TYPE=\"ext4\"\n/dev/sdb1: UUID=\"B-1\" TYPE=\"vfat\"\n");
    if (mount)
        CommandRunner::bash("mount /dev/sdb1 /mnt");
    return drive;
}

// Parses a CSV text (quoted fields without line breaks, CRLF rows) into rows of fields.
inline QList<QStringList> parseCsv(QString text)
{
    static const QRegularExpression field(R"re((?:^|,)(?:"((?:[^"]|"")*)"|([^,]*)))re");
    QList<QStringList> rows;
    for (const QString& line : text.remove(QChar(0xFEFF)).remove('\r').split('\n', Qt::SkipEmptyParts)) {
        QStringList row;
        for (auto it = field.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            row << (m.capturedStart(1) >= 0 ? m.captured(1).replace("\"\"", "\"") : m.captured(2));
        }
        rows << row;
    }
    return rows;
}

// Replaces the converter in the working directory by a shell script.
inline void fakeConverter(const QByteArray& script)
{
    const QString path = "ruv_net/export_result_statistics/export_result_statistics";
    QDir().mkpath("ruv_net/export_result_statistics");
    QFile::remove(path);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + script);
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
