#pragma once
// Rules the machine cycle's parts share (MachineCycle is split by concern:
// machinecycle.cpp the inspection cycle, machinecycle_decision.cpp the
// decision with its outputs and alarms, machinecycle_supervision.cpp the
// camera supervision and re-sampling).
#include "frame/globals.h"
#include "frame/wizardpara.h"

namespace cyclerules {

inline const WizardPara& P() { return *gpWPara; }

inline bool validGroup(int g) { return g >= 0 && g < 8; }

// The output of detection step d in mode 3; the last step always takes the
// last entry.
inline int stepOutput(int d)
{
    return (d == gDNum - 1 ? OutputNo[7] : OutputNo[d]) - 1;
}

} // namespace cyclerules
