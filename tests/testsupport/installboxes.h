#pragma once
// Included by each part of the test support that answers boxes: linking any
// of them installs the house boxes as the operator prompt once the
// QApplication exists, so core questions show real boxes in widget tests.
#include "widgets/boxprompt.h"

#include <QApplication>

namespace {
void installBoxes()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        BoxPrompt::installShared();
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(installBoxes)
