#pragma once
#include "widgets/ccomp_dialogframe.h"

#include <QStringList>

class QLabel;
class QListWidget;

// The software version download dialog: the archives ("gz", "tar", "rar",
// the list `package`) on the USB drive at "/mnt" (regular files of the drive
// itself: no links, FIFOs or devices), one of which the operator
// chooses and confirms with OK. Versions are taken from the drive only: the
// station knows no update server.
class VersionDownloadDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    explicit VersionDownloadDialog(QWidget* parent = nullptr);

    // The archives on the drive, by name.
    static QStringList archives();
    // The full path of the archive chosen in the list; empty for none.
    QString chosenArchive() const;

    QListWidget* list = nullptr;
    QLabel* notice = nullptr;
};
