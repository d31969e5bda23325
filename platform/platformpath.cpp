#include "platform/platformpath.h"

#include <QDir>

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

} // namespace platform
