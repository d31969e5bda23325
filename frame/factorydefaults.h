#pragma once
#include <QString>

class WizardPara;

// The files a fresh working directory starts with: PARAM.db holding the
// parameter set's defaults in table sysparam, and SN.db with its eight free
// camera positions. Used by the build's factory-template tool and by tests.
class FactoryDefaults
{
public:
    // The parameter set a new station starts with: the constructed values
    // brought into range, the camera settings, camera speed and I-Time at
    // their fall-back values, plus the defaults the newer rows are created
    // with (alarm output's initial state on, automatic template switching on).
    static void apply(WizardPara& para);

    // Writes `fileName` with table sysparam(name, value) and all parameter
    // rows of `para`, the language given as the stored UI language, and the
    // empty ROI tables cammer0..cammer7. The file
    // is built beside the target and renamed over it. False on any failure
    // (the target is then left as it was).
    static bool writeParamDb(const QString& fileName, const WizardPara& para, int language);

    // Writes `fileName` with table sysparam(name, value) and the rows
    // "serialNB0".."serialNB7", each "0" (position free).
    static bool writeSnDb(const QString& fileName);
};
