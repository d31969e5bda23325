#pragma once
// Shared set-up of the widget toolkit tests: the house font, the message
// table, the screen size the boxes centre on, and clean shared instances.
#include <QPointer>
#include <QWidget>
#include <functional>

namespace widgettest {

// Font substitution and message table, as the station does at start-up.
// Returns false when the message table could not be loaded.
bool initToolkit(int lan = 1);

// Deletes the shared boxes and pads and clears the main window's current
// field and login level stand-ins, so every test starts alike.
void resetShared();

// Waits (from a timer) until `w` is visible and then hands it to `answer`,
// the way a person answers a box that is a child of the main window (such a
// box is not a separate modal window). Gives up after timeoutMs.
void answerWhenVisible(QWidget* w, const std::function<void(QWidget*)>& answer, int timeoutMs = 5000);

// A left-button press and release on the widget's centre, as a touch.
void touch(QWidget* w, QPoint pos = QPoint(-1, -1));

} // namespace widgettest
