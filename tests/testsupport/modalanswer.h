#pragma once
#include <QString>
#include <functional>

class QWidget;

// Answering boxes in widget tests the way a person would. Linking this part
// also installs the house boxes as the operator prompt once the QApplication
// exists, so core questions show real boxes in widget tests.

// Polls every 20 ms until `find` returns a widget, then hands it to `answer`.
// Gives up after timeoutMs.
void answerWhenFound(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& answer,
                     int timeoutMs = 5000);

// Answers the next modal widget the way a person would: polls for
// QApplication::activeModalWidget() and hands it to `answer` (which clicks a
// button). Call before the code that runs exec(). Gives up after timeoutMs.
void answerModal(const std::function<void(QWidget*)>& answer, int timeoutMs = 5000);

// Clicks the first visible QAbstractButton of the widget whose text equals `text`.
bool clickButtonWithText(QWidget* w, const QString& text);

