#pragma once
#include <QString>

// The station's own SQLite files (PARAM.db, SN.db, and the journal's and the
// statistics' day files and their templates) as files: whether one is
// usable, busy or damaged, keeping a damaged one aside, and putting the
// factory copy in its place so that a crash or power cut at any moment leaves
// either the old file or the whole copy, never a short one.
class DatabaseFile
{
public:
    // Empty: an SQLite file without the table (a zero-length file too).
    enum State { Usable, Busy, Damaged, Missing, Empty };

    // Opens fileName on a private connection and reads columns of table
    // (name, value rows by default). Busy when another connection holds a
    // lock past a short wait; Damaged when it is no SQLite file or the table
    // lacks its columns. why gets the driver's own text.
    static State check(const QString& fileName, const QString& table, QString* why = nullptr,
                       const QString& columns = QStringLiteral("name, value"));

    // check, retried through the clock while the file is busy (attempts
    // times, waitMs apart).
    static State checkWaiting(const QString& fileName, const QString& table, QString* why = nullptr,
                              int attempts = 5, int waitMs = 1000,
                              const QString& columns = QStringLiteral("name, value"));

    // Renames fileName to fileName + ".damaged" (replacing an older one), so
    // the service engineer can still look at it. True when it was moved or
    // did not exist.
    static bool keepAside(const QString& fileName);

    // Copies source beside target, flushes it to disk, checks that the copy
    // opens with its table and renames it over target. False (target as it
    // was) on any failure; why gets the reason.
    static bool replaceWith(const QString& source, const QString& target, const QString& table,
                            QString* why = nullptr);

    // keepAside, then replaceWith the factory copy
    // ("./paraGroup/default/<fileName>"; a failure is logged), then the disk
    // synced and the panel rebooted so that the station starts on it.
    static void restoreFactoryCopy(const QString& fileName, const QString& table);
};
