#pragma once
#include "testsupport/modalanswer.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"

#include <QStringList>
#include <QtTest>

// Answers the next house box (YES or NO on a question, OK on a message) and
// notes its text.
inline void answerBox(bool yes, QStringList* seen)
{
    answerModal([yes, seen](QWidget* w) {
        if (auto* c = dynamic_cast<ChooseBox*>(w)) {
            *seen << c->text();
            QTest::mouseClick(yes ? c->yesButton() : c->noButton(), Qt::LeftButton);
        } else if (auto* b = dynamic_cast<WarnBox*>(w)) {
            *seen << b->text();
            QTest::mouseClick(b->okButton(), Qt::LeftButton);
        }
    });
}
