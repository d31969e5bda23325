#pragma once
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

class CameraManager;

// Copies of the simulated camera plug-in in ./<folder>, each configured by
// the JSON file beside it (none for an empty object: the plug-in's built-in
// defaults). Returns the folder, empty on failure.
QString makeSimPluginDir(const QList<QPair<QString, QJsonObject>>& libs, const QString& folder = "plugs");

// The plug-ins of dir and the cameras they offer; none for an empty dir (a
// failed makeSimPluginDir), never those of the station's default folder.
void loadCameras(CameraManager& m, const QString& dir);
