#pragma once
#include <QString>

// Directory listings through the shell, for diagnostics.

// "ls -R" inside dir: each "folder:\nentries" block becomes one key of a JSON
// object (folder -> entries text). Indented JSON, or "" when nothing qualified.
QString getStrDirInfo(const QString& dir);

// The sub-folders of dir, each followed by ";" ("a;b;").
QString getProDirInfo(const QString& dir);
