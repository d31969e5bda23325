#include "widgets/versiondownloaddialog.h"

#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "platform/platformpath.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

QStringList VersionDownloadDialog::archives()
{
    QStringList out;
    const QFileInfoList files = QDir(platform::path("/mnt")).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& f : files)
        for (const QString& suffix : package)
            if (f.suffix().compare(suffix, Qt::CaseInsensitive) == 0) {
                out << f.fileName();
                break;
            }
    return out;
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
    return platform::path(QStringLiteral("/mnt")) + QLatin1Char('/') + item->text();
}
