#pragma once
#include <QMetaType>
#include <QString>
#include <QVector>

// One USB drive partition as the drive manager knows it. byPath and fsType
// are only read by the start-up scan and stay empty in published lists.
struct UPanInfo
{
    QString uuid;      // file-system UUID, the record's key
    QString byPath;
    QString label;
    QString device;    // device node as on the panel, e.g. /dev/sdb1
    QString fsType;
    QString bus;       // e.g. usb
    QString mountPath; // "/mnt" or "/mnt0".."/mnt3"; empty until mounted

    bool operator==(const UPanInfo& o) const
    {
        return uuid == o.uuid && byPath == o.byPath && label == o.label && device == o.device
            && fsType == o.fsType && bus == o.bus && mountPath == o.mountPath;
    }
};

Q_DECLARE_METATYPE(UPanInfo)
Q_DECLARE_METATYPE(QVector<UPanInfo>)
