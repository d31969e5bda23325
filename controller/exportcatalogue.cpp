#include "controller/exportcatalogue.h"

#include <QCoreApplication>

namespace {
QString tr(const char* s)
{
    return QCoreApplication::translate("ReDoWizard", s);
}
} // namespace

ExportCatalogue::ExportCatalogue()
    : allName(tr("全部文件"))
    , allPath(QStringLiteral("./*"))
{
    list = {
        {tr("测试图"), QStringLiteral("./originalimage")},
        {tr("模板图"), QStringLiteral("./cammer") + QStringLiteral("_template")},
        {tr("OK警报图"), QStringLiteral("./alarmimage") + QStringLiteral("_OK")},
        {tr("NG警报图"), QStringLiteral("./alarmimage") + QStringLiteral("_NG")},
        {tr("操作记录"), QStringLiteral("./RECORD")},
        {tr("日志"), QStringLiteral("./ruv_net/workspace/log")},
    };
}

QStringList ExportCatalogue::getPathContext() const
{
    QStringList names;
    for (const stru_pathMap& m : list)
        names << m.name;
    return names;
}

QStringList ExportCatalogue::getExportPathByContext(const QStringList& chosen) const
{
    if (chosen.contains(allName))
        return {allPath};
    QStringList paths;
    for (const QString& name : chosen) {
        for (const stru_pathMap& m : list) {
            if (m.name == name) {
                paths << m.path;
                break;
            }
        }
    }
    return paths;
}

QPair<QString, QString> ExportCatalogue::splitPattern(const QString& pattern)
{
    const int at = pattern.lastIndexOf(QLatin1Char('_'));
    if (at > 0) {
        const QString kind = pattern.mid(at + 1);
        if (kind == QLatin1String("template") || kind == QLatin1String("OK") || kind == QLatin1String("NG"))
            return qMakePair(pattern.left(at), kind);
    }
    return qMakePair(pattern, QString());
}
