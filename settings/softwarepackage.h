#pragma once
#include <QString>

// A software version taken from the USB drive: the chosen archive becomes the
// package "/root/bin-AOI/newupdate<suffix>" (<suffix> one of the archive
// suffixes "gz", "tar", "rar") that the panel installs when it starts again.
// The package path resolves below STATION_SIMROOT on the simulated platform.
class SoftwarePackage
{
public:
    // The archive suffix (from `package`) an archive name ends in; empty for
    // none.
    static QString suffixOf(const QString& archiveName);
    static QString packagePath(const QString& suffix);

    // Copies the archive through a temporary file beside the package, reads
    // the copy back and compares its size and SHA-256 with what was read
    // from the drive, and only then renames it over the package. On any
    // failure (drive pulled, disk full, archive unreadable) no package and no
    // temporary file are left, false is returned and *error says why.
    static bool install(const QString& archive, QString* error = nullptr);
};
