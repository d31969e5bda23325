#pragma once
#include "testsupport/finger.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"

#include <QAbstractButton>
#include <QStringList>
#include <QtTest>

// Answers the next house box (YES or NO on a question, OK on a message),
// touching its button where it shows, and notes its text.
inline void answerBox(bool yes, QStringList* seen)
{
    finger::answerBox([yes, seen](QWidget* w) -> QAbstractButton* {
        if (auto* c = dynamic_cast<ChooseBox*>(w)) {
            *seen << c->text();
            return yes ? c->yesButton() : c->noButton();
        }
        if (auto* b = dynamic_cast<WarnBox*>(w)) {
            *seen << b->text();
            return b->okButton();
        }
        return nullptr;
    });
}
