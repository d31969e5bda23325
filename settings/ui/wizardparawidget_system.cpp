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
#include "settings/ui/widgetchangecamera.h"
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

namespace {
const QString kDefaultGroup = QStringLiteral("default");
// The files a parameter group holds.
const char* const kGroupFiles[] = {"PARAM.db", "SN.db"};

QStringList groupNames()
{
    return QDir(QStringLiteral("./paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// Written beside the target and renamed over it: the target is never half
// copied.
bool copyOver(const QString& from, const QString& to)
{
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part))
        return false;
    QFile::remove(to);
    return QFile::rename(part, to);
}

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
    const bool exists = groupNames().contains(name);
    if (!askOperator(exists ? 284 : 283))
        return;
    // The group keeps what is stored: the live set goes to the file first.
    if (!gpWPara->SaveDatatoFile()) {
        tellOperator(796);
        return;
    }
    const QString dir = QStringLiteral("./paraGroup/") + name;
    QDir().mkpath(dir);
    for (const char* f : kGroupFiles) {
        const QString file = QString::fromLatin1(f);
        if (QFile::exists(file) && !copyOver(file, dir + QLatin1Char('/') + file)) {
            tellOperator(796);
            return;
        }
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
    if (!askOperator(287))
        return;
    const QString current = gpWPara ? gpWPara->getCurGroupName() : QString();
    QDir(QStringLiteral("./paraGroup/") + name).removeRecursively();
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
    hide();
    gpWPara->groupIndex = index;
    gpWPara->SaveAddFile();
    if (gpWin)
        gpWin->InsertRecord(messageText(286).arg(name), QStringLiteral("operate"));
    // The group's files replace the working ones once the databases are
    // closed; the restart loads them.
    const auto replace = [dir] {
        for (const char* f : kGroupFiles) {
            const QString file = QString::fromLatin1(f);
            if (QFile::exists(dir + QLatin1Char('/') + file))
                copyOver(dir + QLatin1Char('/') + file, file);
        }
    };
    afterClose = replace;
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
    // Nothing is installed, so nothing is saved, stopped or restarted here:
    // the dialog shows what the drive holds and says that it installs none.
    VersionDownloadDialog dlg(parentWidget());
    dlg.exec();
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
    // The saved set carries the language; the restart shows it.
    gLan = lan;
    if (endStation)
        endStation(StationExit::Reboot);
}

void WizardParaWidget::SlotModifyTime()
{
    padsAway();
    timeDialog->editor()->ShowDateTime();
    if (timeDialog->exec() != 1 || !askOperator(402))
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
