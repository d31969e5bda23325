#pragma once
// Shared set-up of the widget toolkit tests: the house font, the message
// table, the screen size the boxes centre on, and clean shared instances.
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>

class Edit;

namespace widgettest {

// Font substitution and message table, as the station does at start-up.
// Returns false when the message table could not be loaded.
bool initToolkit(int lan = 1);

// Deletes the shared boxes and pads and puts the globals the toolkit tests
// touch back to the start-up state (parameters and screen size are TestEnv's).
void resetShared();

// Deletes the shared pads and, with `create`, makes new ones (in the
// language gLan now names); the globals stay as they are.
void remakePads(bool create = true);

// Waits (from a timer) until `w` is visible and then hands it to `answer`,
// the way a person answers a box that is a child of the main window (such a
// box is not a separate modal window). Gives up after timeoutMs.
void answerWhenVisible(QWidget* w, const std::function<void(QWidget*)>& answer, int timeoutMs = 5000);

// A left-button press and release on the widget's centre, as a touch.
void touch(QWidget* w, QPoint pos = QPoint(-1, -1));

// A new Edit with the given keypad flags, placed and shown on `parent`.
Edit* shownEdit(QWidget* parent, int keypadFlags, const QRect& geometry = QRect(50, 50, 300, 50));

// Clicks the pad's keys for each digit in turn.
void typeOnPad(const QString& digits);

// The language tag of the rendered pictures' file names ("zh" for
// Simplified Chinese, else "en").
QString lanTag();

} // namespace widgettest
