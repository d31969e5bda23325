#include "widgets/versiondownloaddialog.h"

#include "frame/operatorprompt.h"
#include "settings/softwarepackage.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

QStringList VersionDownloadDialog::archives()
{
    return SoftwarePackage::archivesOnDrive();
}

VersionDownloadDialog::VersionDownloadDialog(QWidget* parent)
    : CComp_DialogFrame(messageText(615), parent)
{
    setWindowFlags(windowFlags() | Qt::Dialog);
    list = new QListWidget(body());
    list->addItems(archives());
    notice = new QLabel(messageText(862), body());
    notice->setWordWrap(true);
    auto* lay = new QVBoxLayout(body());
    lay->setContentsMargins(20, 10, 20, 10);
    lay->addWidget(list, 1);
    lay->addWidget(notice);
    setDefaultWgt(this);
    setMinimumSize(0, 0);
    resize(800, 600);
}

QString VersionDownloadDialog::chosenArchive() const
{
    const QListWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected())
        return QString();
    return SoftwarePackage::driveFolder() + QLatin1Char('/') + item->text();
}
