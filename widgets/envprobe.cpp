#include "widgets/envprobe.h"
#include "platform/commandrunner.h"

#include <QString>
#include <QtDebug>

namespace {

QString firstLineOf(const QString& command)
{
    const CommandRunner::Result r = CommandRunner::bash(command, 30000);
    return QString::fromLocal8Bit(r.output).split('\n').value(0);
}

} // namespace

bool isOpen_Env()
{
    const QString line = firstLineOf(QStringLiteral("echo $QT_QPA_PLATFORM_PLUGIN_PATH"));
    qInfo().noquote() << line;
    return line == QLatin1String("/opt/Qt5.15.7/plugins/platforms");
}

bool isDesktop_Platform()
{
    const QString line = firstLineOf(QStringLiteral("echo $XDG_SESSION_TYPE"));
    qInfo().noquote() << line;
    return line == QLatin1String("x11");
}
