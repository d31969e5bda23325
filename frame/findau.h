#pragma once
#include <QString>

// One-off USB drive finder for jobs that need a drive at once (the
// statistics export): picks the first FAT/NTFS/exFAT partition that is not on
// the ext4 system disk, mounts it at "/mnt" and returns "/mnt", or an empty
// string. Blocks for the outside commands (each waited for at most 1000 ms).
QString FindAU();

// Fixed-device variant: mounts /dev/sdb1, else /dev/sdc1, at "/mnt".
// 1 on success, else 0.
int FindU_ByManual();

// The disk of a partition device: its name without the trailing decimal
// digits (/dev/sda2 -> /dev/sda). Empty for a name made only of digits.
QString diskOfPartition(QString device);
// The device FindAU would choose from a blkid listing; empty when none.
QString findAUPickDevice(const QString& blkidText);
// True when the mounts text has a line mounting device at "/mnt".
bool findAUIsMountedAtMnt(const QString& mountsText, const QString& device);
