#pragma once
#include <QString>

// The device identity computed at start-up (gDeviceID).

// UUID of the ext4 partition of /dev/sda from "blkid"; empty when none.
QString found_diskuuid_by_blkid();
// UUID of an ext4 file system in "/etc/fstab"; "/etc/assign_uuid", when it
// holds a text, is an identity assigned by the installer and wins.
QString found_diskuuid_by_etc_fstab();
// The CPU serial of "/proc/cpuinfo", else the system disk's UUID; without
// ";" and only the part after the last "-".
QString getlocal_deviceid();
