#pragma once
#include "frame/operatorprompt.h"

// Answers the core's messages and questions with the house boxes: the shared
// WarnBox and ChooseBox when their window is on screen, else a box of the
// same kind of its own, so no box is ever opened on a window nobody sees.
// Calls from other threads wait for the answer on the GUI thread.
class BoxPrompt : public OperatorPrompt
{
public:
    bool prompt(Kind kind, int msg, const QString& text) override;

    // Installs one process-wide instance.
    static void installShared();
};
