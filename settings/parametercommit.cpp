#include "settings/parametercommit.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"

QStringList ParameterCommit::describeChanges(const WizardPara& from, const WizardPara& to)
{
    QStringList out;
    for (const QString& key : WizardPara::storedKeys()) {
        const QString a = from.rowValue(key);
        const QString b = to.rowValue(key);
        if (a == b)
            continue;
        // Passwords are never written into the journal.
        if (key.contains(QLatin1String("assword")))
            out << key;
        else
            out << QStringLiteral("%1: %2 -> %3").arg(key, a.trimmed(), b.trimmed());
    }
    return out;
}

int ParameterCommit::accept(const Hooks& hooks)
{
    if (!gpWPara || !gpWParaBak || *gpWPara == *gpWParaBak)
        return 0;
    if (!askOperator(234)) {
        *gpWParaBak = *gpWPara;
        return -1;
    }
    // Stored first: a set that never reached PARAM.db must not become live
    // (it would vanish at the next start) nor be claimed by the journal.
    // The edit copy keeps the change for another try.
    if (!gpWParaBak->SaveDatatoFile()) {
        tellOperator(796);
        return -2;
    }
    const QStringList changes = describeChanges(*gpWPara, *gpWParaBak);
    if (gpWin)
        for (const QString& c : changes)
            gpWin->InsertRecord(c, QStringLiteral("set"));
    *gpWPara = *gpWParaBak;
    // The detection count follows the machine mode's tables at once.
    gpWPara->deriveByMode(gpWin ? &gpWin->curMould : nullptr);
    // Result images are kept by the new counts from the next cycle on.
    gPicNumNG = gpWPara->ngRecNum;
    gPicNumOK = gpWPara->okRecNum;
    if (hooks.applyCameras)
        hooks.applyCameras();
    if (hooks.retrain)
        hooks.retrain();
    return 1;
}
