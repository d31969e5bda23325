#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One export category: display name and source path pattern. A pattern is a
// path, or a path and a kind ("template", "OK", "NG") joined by "_".
struct stru_pathMap {
    QString name;
    QString path;
};

// The data categories the operator can export to a USB drive, in the order
// the selection dialog lists them, with the all-files pair held apart.
class ExportCatalogue
{
public:
    ExportCatalogue(); // the station's categories; names through tr()

    QString allName;
    QString allPath;
    QList<stru_pathMap> list;

    // Display names in list order, without the all-files name.
    QStringList getPathContext() const;
    // Patterns of the chosen names in the order chosen; the all-files name
    // wins alone; unknown names are dropped.
    QStringList getExportPathByContext(const QStringList& chosen) const;

    // Path and kind of a pattern. Only a known kind after the last "_" is
    // split off, so a path with an underscore of its own stays whole.
    static QPair<QString, QString> splitPattern(const QString& pattern);
};
