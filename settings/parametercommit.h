#pragma once
#include <QStringList>
#include <functional>

class WizardPara;

// Commits the settings window's edit copy into the live parameter set: the
// operator confirms (message 234), the change is recorded row by row, the
// live set takes the copy and is saved, and the cameras and engines are told.
// Declined, the copy goes back to the live values.
class ParameterCommit
{
public:
    struct Hooks {
        std::function<void()> applyCameras; // trigger mode, setters, speed of every view
        std::function<void()> retrain;      // positioning, alignment and masks of every engine
    };

    // The stored rows that differ, as "key: old -> new".
    static QStringList describeChanges(const WizardPara& from, const WizardPara& to);

    // 1 committed, 0 nothing to commit, -1 declined (copy reverted), -2 the
    // save failed (operator told, live set and file unchanged, copy kept).
    static int accept(const Hooks& hooks);
};
