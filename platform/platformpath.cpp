#include "platform/platformpath.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace platform {

QString simRoot()
{
    const QByteArray root = qgetenv("STATION_SIMROOT");
    if (root.isEmpty())
        return QString();
    return QDir::cleanPath(QString::fromLocal8Bit(root));
}

bool isSimulated()
{
    return !simRoot().isEmpty();
}

QString path(const QString& absolutePath)
{
    const QString root = simRoot();
    if (root.isEmpty() || !absolutePath.startsWith(QLatin1Char('/')))
        return absolutePath;
    if (absolutePath == root || absolutePath.startsWith(root + QLatin1Char('/')))
        return absolutePath; // already resolved
    return root + absolutePath;
}

QString simulationNote()
{
    const QString root = simRoot();
    if (root.isEmpty())
        return QString();
    const struct {
        const char* file;
        const char* meaning;
    } files[] = {{"/proc/cpuinfo", "processor not described, no processor serial"},
                 {"/dev/led", "front LEDs and screen switch go nowhere"},
                 {"/sys/class/backlight/intel_backlight", "no back-light switch"},
                 {"/sys/class/net", "no network cards listed"},
                 {"/run/udev/data", "no USB drive until it exists"}};
    QStringList missing;
    for (const auto& f : files)
        if (!QFileInfo::exists(path(QString::fromLatin1(f.file))))
            missing << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(f.file), QString::fromLatin1(f.meaning));
    QString note = QStringLiteral("simulated platform under %1: the I/O board, cameras, LED device, USB drives and "
                                  "network cards are stand-ins; commands that would change this machine are "
                                  "written to %1/commands.log and not run")
                       .arg(root);
    if (!missing.isEmpty())
        note += QStringLiteral("; not provided: ") + missing.join(QStringLiteral(", "));
    return note;
}

} // namespace platform
