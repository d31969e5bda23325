// The settings window's parameter groups, advanced dialogs and ways out.
#include "settings/ui/wizardparawidget.h"
#include "controller/mainstate.h"
#include "controller/ui/redowizard.h"
#include "controller/ui/mapplication.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "settings/ui/hardwareconfigurationwidget.h"
#include "settings/parametercommit.h"
#include "settings/softwarepackage.h"
#include "settings/ui/widgetchangecamera.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editdatetime.h"
#include "widgets/fuzzycombobox.h"
#include "widgets/modifytimewidget.h"
#include "widgets/networksettingdialog.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/versiondownloaddialog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <glog/logging.h>
#include <QFileInfo>

#include <climits>

namespace {
const QString kDefaultGroup = QStringLiteral("default");
// The files a parameter group holds besides its per-camera directories.
const char* const kGroupFiles[] = {"PARAM.db", "SN.db"};

QStringList groupNames()
{
    return QDir(QStringLiteral("./paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// The per-camera directories ("cammer<camera><detection>") hold the templates
// and ignore points that the ROIs in PARAM.db were taught against: a group's
// ROIs judged against another mould's templates would give wrong verdicts.
QStringList cameraDirs(const QString& in)
{
    static const QRegularExpression kName(QStringLiteral("^cammer[1-8][1-8]$"));
    QStringList out;
    for (const QString& d : QDir(in).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (kName.match(d).hasMatch())
            out << d;
    return out;
}

bool copyFolder(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QDir src(from);
    for (const QFileInfo& f : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + f.fileName();
        if (f.isDir() ? !copyFolder(f.filePath(), target) : !QFile::copy(f.filePath(), target))
            return false;
    }
    return true;
}

// A set of settings (the two databases and the per-camera directories) copied
// from one place to another. Everything is first copied beside its place
// ("<name>.part"); only when every copy succeeded does it replace what is
// there, so a failed copy leaves both places as they were.
class SettingsCopy
{
public:
    SettingsCopy(const QString& from, const QString& to)
        : m_from(from)
        , m_to(to)
    {
        for (const char* f : kGroupFiles)
            if (QFile::exists(from + QLatin1Char('/') + QLatin1String(f)))
                m_files << QString::fromLatin1(f);
        m_dirs = cameraDirs(from);
    }

    bool stage()
    {
        bool ok = QDir().mkpath(m_to);
        for (const QString& f : m_files) {
            const QString part = staged(f);
            QFile::remove(part);
            ok = ok && QFile::copy(m_from + QLatin1Char('/') + f, part);
        }
        for (const QString& d : m_dirs) {
            QDir(staged(d)).removeRecursively();
            ok = ok && copyFolder(m_from + QLatin1Char('/') + d, staged(d));
        }
        if (!ok)
            discard();
        return ok;
    }

    // Per-camera directories the source lacks go: their templates belong to
    // other ROIs.
    bool commit() const
    {
        bool ok = true;
        for (const QString& d : cameraDirs(m_to))
            if (!m_dirs.contains(d))
                ok = QDir(place(d)).removeRecursively() && ok;
        for (const QString& f : m_files) {
            QFile::remove(place(f));
            ok = QFile::rename(staged(f), place(f)) && ok;
        }
        for (const QString& d : m_dirs) {
            QDir(place(d)).removeRecursively();
            ok = QDir().rename(staged(d), place(d)) && ok;
        }
        return ok;
    }

    void discard() const
    {
        for (const QString& f : m_files)
            QFile::remove(staged(f));
        for (const QString& d : m_dirs)
            QDir(staged(d)).removeRecursively();
    }

private:
    QString place(const QString& name) const { return m_to + QLatin1Char('/') + name; }
    QString staged(const QString& name) const { return place(name) + QStringLiteral(".part"); }

    QString m_from, m_to;
    QStringList m_files, m_dirs;
};

// The current group's position and name again after the list changed.
void followGroup(const QString& name)
{
    for (WizardPara* p : {gpWPara, gpWParaBak}) {
        if (!p)
            continue;
        p->groupIndex = groupNames().indexOf(name);
        if (p == gpWPara)
            p->SaveAddFile();
        else
            p->updateGroupName();
    }
}

void padsAway()
{
    if (gpNumPad)
        gpNumPad->HideUpdate();
    if (gpNumCharPad)
        gpNumCharPad->HideUpdate();
}
} // namespace

QString WizardParaWidget::groupAt(int index) const
{
    return groupNames().value(index);
}

void WizardParaWidget::ParaGroupUpdateList()
{
    QStringList names = groupNames();
    if (names.isEmpty())
        names << kDefaultGroup;
    const QSignalBlocker block(groupCombo);
    groupCombo->setFilterFixedString(QString());
    groupCombo->setStringList(names);
    const QString cur = gpWPara ? gpWPara->getCurGroupName() : QString();
    const int i = names.indexOf(cur);
    groupCombo->setCurrentIndex(i >= 0 ? i : 0);
    if (groupSearch) {
        const QSignalBlocker quiet(groupSearch);
        groupSearch->clear();
    }
}

void WizardParaWidget::SlotParaGroupChange(int)
{
    // The chooser's row may be a filtered one: the group is known by name.
    if (gpWParaBak)
        gpWParaBak->groupIndex = groupNames().indexOf(groupCombo->currentText());
}

void WizardParaWidget::SlotGroupSearch(const QString& text)
{
    const int index = groupCombo->currentIndex();
    groupCombo->blockSignals(true);
    groupCombo->setFilterFixedString(text);
    groupCombo->checkFilterResult(index);
    groupCombo->blockSignals(false);
}

void WizardParaWidget::SlotParaGroupBackup()
{
    padsAway();
    if (!gpWPara)
        return;
    const QString name = groupName->text().trimmed();
    if (name.isEmpty()) {
        tellOperator(282);
        return;
    }
    if (name == kDefaultGroup) {
        tellOperator(653);
        return;
    }
    // A group is a folder of ./paraGroup: a name that would leave it is refused.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.startsWith(QLatin1Char('.'))) {
        tellOperator(784);
        return;
    }
    // The name is a folder name, staged beside itself with ".part": longer
    // than the file system takes, every copy would fail and be told as a busy
    // file.
    if (QFile::encodeName(name).size() + 5 > NAME_MAX) {
        tellOperator(804);
        return;
    }
    const bool exists = groupNames().contains(name);
    if (!askOperator(exists ? 284 : 283))
        return;
    // The group keeps what is stored: the live set goes to the file first.
    if (!gpWPara->SaveDatatoFile()) {
        tellOperator(796);
        return;
    }
    SettingsCopy copy(QStringLiteral("."), QStringLiteral("./paraGroup/") + name);
    if (!copy.stage() || !copy.commit()) {
        tellOperator(796);
        return;
    }
    followGroup(name);
    if (gpWin)
        gpWin->InsertRecord(QStringLiteral("%1: %2").arg(messageText(182), name), QStringLiteral("operate"));
    groupName->clear();
    ParaGroupUpdateList();
}

void WizardParaWidget::SlotParaGroupRestore()
{
    const int index = groupNames().indexOf(groupCombo->currentText());
    if (index < 0 || !askOperator(285))
        return;
    restoreGroup(index);
}

void WizardParaWidget::SlotParaGroupDelete()
{
    const QString name = groupCombo->currentText();
    if (name.isEmpty() || !groupNames().contains(name))
        return;
    if (name == kDefaultGroup) {
        tellOperator(653);
        return;
    }
    // The live settings are labelled with their group: it stays while they
    // are in force, or they would carry a name that no longer exists.
    const QString current = gpWPara ? gpWPara->getCurGroupName() : QString();
    if (name == current) {
        tellOperator(802);
        return;
    }
    if (!askOperator(287))
        return;
    // A group that is a link goes as a link: what it points to is not ours.
    const QString path = QStringLiteral("./paraGroup/") + name;
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    else
        QDir(path).removeRecursively();
    followGroup(current);
    if (gpWin)
        gpWin->InsertRecord(QStringLiteral("%1: %2").arg(messageText(184), name), QStringLiteral("operate"));
    ParaGroupUpdateList();
}

void WizardParaWidget::restoreGroup(int index)
{
    const QString name = groupAt(index);
    const QString dir = QStringLiteral("./paraGroup/") + name;
    if (name.isEmpty() || !QFile::exists(dir + QStringLiteral("/PARAM.db"))) {
        tellOperator(160);
        return;
    }
    // Copied beside the working files now, so that a failed copy is told
    // while nothing is changed yet; they replace the working ones once the
    // databases are closed, and the restart loads them.
    SettingsCopy copy(dir, QStringLiteral("."));
    if (!copy.stage()) {
        tellOperator(801);
        return;
    }
    hide();
    gpWPara->groupIndex = index;
    gpWPara->SaveAddFile();
    if (gpWin)
        gpWin->InsertRecord(messageText(286).arg(name), QStringLiteral("operate"));
    afterClose = [copy] {
        if (!copy.commit())
            LOG(ERROR) << "parameter group not fully restored: a copied file could not replace the working one";
    };
    if (endStation)
        endStation(StationExit::Reboot);
}

void WizardParaWidget::SlotFactoryReset()
{
    if (!gpWin || !gpWin->CheckRoot())
        return;
    const int index = groupNames().indexOf(kDefaultGroup);
    if (index < 0 || !askOperator(527))
        return;
    restoreGroup(index);
}

// --- advanced dialogs ----------------------------------------------------------

void WizardParaWidget::SlotChangeCamera()
{
    auto* win = qobject_cast<ReDoWizard*>(parentWidget());
    if (!win || !win->cameraNumbering || !gpWin->CheckRoot())
        return;
    win->cameraNumbering->reload();
    win->cameraNumbering->show();
    win->cameraNumbering->raise();
}

void WizardParaWidget::SlotHardware()
{
    auto* win = qobject_cast<ReDoWizard*>(parentWidget());
    if (!win || !win->hardwarePage || !gpWin->CheckRoot())
        return;
    win->hardwarePage->show();
    win->hardwarePage->raise();
}

void WizardParaWidget::SlotToNetwork()
{
    padsAway();
    // The press that opened the page must not arm the touch calibration.
    if (MApplication::_instance)
        MApplication::_instance->manualStopTscTimeup();
    // Made on first use and kept: it hosts the address fields' pad.
    if (!gpNetDialog)
        gpNetDialog = new NetworkSettingDialog(parentWidget());
    gpNetDialog->show();
    gpNetDialog->raise();
}

void WizardParaWidget::SlotSoftwareUpdate()
{
    padsAway();
    VersionDownloadDialog dlg(parentWidget());
    if (dlg.exec() != QDialog::Accepted)
        return;
    const QString archive = dlg.chosenArchive();
    if (archive.isEmpty() || !askOperator(323))
        return;
    SoftwarePackage::Outcome copied;
    {
        CComp_DiaWait wait([&copied, archive] { copied = SoftwarePackage::install(archive); });
        wait.exec();
    }
    // Nothing to install: the station keeps running as it is.
    const QString name = QFileInfo(archive).fileName();
    const auto mb = [](qint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); };
    switch (copied.kind) {
    case SoftwarePackage::Outcome::Installed:
        break;
    case SoftwarePackage::Outcome::NotAFileOfTheDrive:
        tellOperator(864, messageText(864).arg(name));
        return;
    case SoftwarePackage::Outcome::NoRoom:
        tellOperator(863, messageText(863).arg(name, mb(copied.size), mb(copied.free),
                                               mb(SoftwarePackage::kFreeMargin)));
        return;
    case SoftwarePackage::Outcome::Failed:
        tellOperator(860);
        return;
    }
    if (gpWin)
        gpWin->InsertRecord(messageText(861).arg(name), QStringLiteral("operate"));
    if (endStation)
        endStation(StationExit::Reboot);
}

// --- ways out -----------------------------------------------------------------

void WizardParaWidget::SlotShutDown()
{
    if (!askOperator(291))
        return;
    if (endStation)
        endStation(StationExit::PowerOff);
}

void WizardParaWidget::SlotExit()
{
    if (!askOperator(294))
        return;
    if (endStation)
        endStation(StationExit::Exit);
}

void WizardParaWidget::SlotChangeLan()
{
    const int lan = languageChooser->currentIndex();
    if (lan < 0 || lan == gLan || !askOperator(318))
        return;
    if (gpWin)
        gpWin->InsertRecord(messageText(319), QStringLiteral("operate"));
    // The saved set carries the language; the restart shows it. Until then
    // the station and its records stay in the language in force.
    beforeSave = [lan] { gLan = lan; };
    if (endStation)
        endStation(StationExit::Reboot);
}

void WizardParaWidget::SlotModifyTime()
{
    padsAway();
    timeDialog->editor()->ShowDateTime();
    if (timeDialog->exec() != 1)
        return;
    if (!timeDialog->editor()->timeExists()) {
        tellOperator(803);
        return;
    }
    if (!askOperator(402))
        return;
    timeDialog->editor()->setSysDateTime();
    // What was edited here is kept over the restart.
    if (gpWPara && gpWParaBak && *gpWPara != *gpWParaBak) {
        if (gpWin)
            for (const QString& c : ParameterCommit::describeChanges(*gpWPara, *gpWParaBak))
                gpWin->InsertRecord(c, QStringLiteral("set"));
        const int group = gpWPara->groupIndex;
        *gpWPara = *gpWParaBak;
        gpWPara->groupIndex = group;
        gpWPara->updateGroupName();
    }
    if (gpWin)
        gpWin->InsertRecord(messageText(401), QStringLiteral("operate"));
    if (endStation)
        endStation(StationExit::Reboot);
}
