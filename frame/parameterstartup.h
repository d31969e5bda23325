#pragma once
#include <QString>

class MainState;

// The parameter part of the station's start-up, in its order: PARAM.db
// checked (a missing or damaged file told, kept aside and replaced by the
// factory copy, then the reboot; a locked one waited for and told), the
// "dbIn" connection opened on the state, the live set loaded into gpWPara,
// the edit copy made in gpWParaBak and the settings copied into the globals.
// The main window runs it; tests run it on a plain MainState.
class ParameterStartup
{
public:
    // False when PARAM.db could not be opened.
    static bool run(MainState* state);
    // The "dbIn" connection on ./PARAM.db, (re)opened on the state with its
    // query; false (and logged) when the file does not open.
    static bool openParamDb(MainState* state);

private:
    static void restoreParamDb(const QString& why);
};
