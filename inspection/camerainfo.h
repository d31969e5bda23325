#pragma once
#include <QJsonObject>
#include <QString>

// One camera as a plug-in enumerates it. Copied by value, also into
// CameraInterface::create(). `sn` is the plug-in's own data; the station reads
// only the NUL-terminated UTF-8 serial number at its start.
struct _cameraInfo
{
    int index = 0;        // the plug-in's own numbering, carried as is
    QString typeName;     // equals name() of the plug-in that made the record
    char sn[288] = {};    // serial number first, then plug-in data
    QJsonObject params;   // handed back to create()

    // The serial number: the text up to the first NUL (never past the array).
    QString serial() const;
    // Writes a serial number (truncated to fit, always NUL-terminated).
    void setSerial(const QString& serial);
};

inline QString _cameraInfo::serial() const
{
    int n = 0;
    while (n < int(sizeof(sn)) && sn[n] != '\0')
        ++n;
    return QString::fromUtf8(sn, n);
}

inline void _cameraInfo::setSerial(const QString& serial)
{
    const QByteArray u = serial.toUtf8();
    const int n = qMin(u.size(), int(sizeof(sn)) - 1);
    for (int i = 0; i < int(sizeof(sn)); ++i)
        sn[i] = i < n ? u[i] : '\0';
}
