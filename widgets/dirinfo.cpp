#include "widgets/dirinfo.h"
#include "platform/commandrunner.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

// The folder goes to the shell as one quoted word, whatever it contains.
QString shellQuote(const QString& s)
{
    QString q = s;
    q.replace('\'', "'\\''");
    return '\'' + q + '\'';
}

} // namespace

QString getStrDirInfo(const QString& dir)
{
    const CommandRunner::Result r = CommandRunner::bash("cd " + shellQuote(dir) + " && ls -R 2>&1", 30000);
    const QString out = QString::fromLocal8Bit(r.output);
    QJsonObject obj;
    const QStringList blocks = out.split("\n\n");
    for (const QString& block : blocks) {
        const QStringList parts = block.split(':');
        if (parts.size() == 2)
            obj.insert(parts[0], parts[1]);
    }
    if (obj.isEmpty())
        return QString();
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Indented));
}

QString getProDirInfo(const QString& dir)
{
    const CommandRunner::Result r = CommandRunner::bash("ls -F " + shellQuote(dir) + " 2>&1 | grep \"/$\"", 30000);
    const QStringList lines = QString::fromLocal8Bit(r.output).split('\n', Qt::SkipEmptyParts);
    QString out;
    for (QString line : lines) {
        line.remove('/');
        out += line + ';';
    }
    return out;
}
