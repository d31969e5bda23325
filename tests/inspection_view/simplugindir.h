#pragma once
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// Copies of the simulated camera plug-in in ./plugs, each configured by the
// JSON file beside it. Returns the folder, empty on failure.
QString makeSimPluginDir(const QList<QPair<QString, QJsonObject>>& libs);
