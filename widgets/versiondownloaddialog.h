#pragma once
#include "widgets/ccomp_dialogframe.h"

#include <QStringList>

class QLabel;
class QListWidget;

// The software version download dialog: the archives ("gz", "tar", "rar",
// the list `package`) on the USB drive at "/mnt". How a version is installed
// from them is not part of this station, and the dialog says so instead of
// offering an install.
class VersionDownloadDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    explicit VersionDownloadDialog(QWidget* parent = nullptr);

    // The archives on the drive, by name.
    static QStringList archives();

    QListWidget* list = nullptr;
    QLabel* notice = nullptr;
};
