#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// Copies the chosen export categories from the working directory to a
// mounted USB drive, into a folder of its own named by the time of the
// export. The drive is checked before every file: once it is gone nothing
// more is written below its mount point, and a write that fails (a full
// drive) stops the job as well.
class DataExportJob
{
public:
    // Nothing: the chosen categories hold no file (the operation records of
    // the first day, say, before any day is archived); nothing is written.
    enum Result { Done, DriveGone, WriteFailed, Nothing };

    // patterns: as the export catalogue gives them; mountPoint: the platform
    // path the drive is mounted at ("/mnt").
    DataExportJob(const QStringList& patterns, const QString& mountPoint);

    // Runs on the calling thread; progress(done, total) after each file.
    Result run(const std::function<void(int, int)>& progress = {});

    // The files to copy, relative to the working directory, in order.
    QStringList sourceFiles() const;
    // The folder on the drive (platform path).
    QString destination() const { return m_dest; }
    int copiedCount() const { return m_copied; }

    // FindAU, asking message 320 again while there is no drive; empty when
    // the operator gives up.
    static QString findDrive();
    // The message that tells the operator how the job ended.
    static int messageFor(Result r);

private:
    bool driveThere() const;
    bool copyOne(const QString& rel);

    QStringList m_patterns;
    QString m_mount;
    QString m_dest;
    int m_copied = 0;
};
