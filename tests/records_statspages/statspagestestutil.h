#pragma once
// Day files, a simulated USB drive and the CSV reader shared by the
// statistics page and export tests.
#include "platform/commandrunner.h"
#include "records_statistics/statstestutil.h"

#include <QDir>
#include <QJsonArray>

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

// Parses a CSV text (quoted fields, CRLF rows) into rows of fields.
inline QList<QStringList> parseCsv(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (ch == '"') {
                quoted = false;
            } else {
                field += ch;
            }
        } else if (ch == '"') {
            quoted = true;
        } else if (ch == ',') {
            row << field;
            field.clear();
        } else if (ch == '\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
        } else if (ch != '\r') {
            field += ch;
        }
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
