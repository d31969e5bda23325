#pragma once
#include <QString>
#include <QStringList>

// A software version taken from the USB drive: the chosen archive becomes the
// package "/root/bin-AOI/newupdate<suffix>" (<suffix> one of the archive
// suffixes "gz", "tar", "rar") that the panel installs when it starts again.
// The drive's folder and the package path resolve below STATION_SIMROOT on
// the simulated platform.
//
// The drive is not ours and the station runs as root: only regular files
// that lie on the drive itself are listed or read. A link (to /etc/shadow, to
// /dev/zero), a FIFO or a device node is neither followed nor opened.
class SoftwarePackage
{
public:
    // Space kept free at the package path after the copy: the station's
    // logs, records and images keep growing until the panel restarts.
    static constexpr qint64 kFreeMargin = qint64(64) << 20;

    struct Outcome {
        enum Kind { Installed, NotAFileOfTheDrive, NoRoom, Failed };
        Kind kind = Failed;
        qint64 size = 0; // bytes of the archive, once known
        qint64 free = 0; // bytes free at the package path (NoRoom)
        QString why;     // for the log
        bool ok() const { return kind == Installed; }
    };

    // The folder the USB drive is mounted on.
    static QString driveFolder();
    // The archives (suffixes of `package`) that are regular files on the
    // drive itself, by name.
    static QStringList archivesOnDrive();

    // The archive suffix (from `package`) an archive name ends in; empty for
    // none.
    static QString suffixOf(const QString& archiveName);
    static QString packagePath(const QString& suffix);

    // Opens the archive without following a link or waiting on it, refuses
    // anything but a regular file on the drive's file system and an archive
    // that would leave less than kFreeMargin at the package path, then copies
    // from that descriptor through a temporary file beside the package, reads
    // the copy back and compares its size and SHA-256 with what was read from
    // the drive, and only then renames it over the package. On any refusal or
    // failure (drive pulled, disk full, archive growing or unreadable) no
    // package and no temporary file are left and the outcome says why.
    static Outcome install(const QString& archive);
};
