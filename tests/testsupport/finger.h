#pragma once
#include <QPoint>
#include <QString>
#include <functional>

class QAbstractButton;
class QComboBox;
class QWidget;

// The one way journeys touch the screen: a press and release at a screen
// point, delivered to whatever widget is on top there
// (QApplication::widgetAt), as a finger on the panel would. A widget named by
// a test only says where to touch; when something else is on top at that
// point (a window in front of a box, a panel over a button) the touch lands
// there and the test fails, naming what it hit.
namespace finger {

// Touches the global point. Returns the widget the touch landed on, or null
// (and a test failure) when nothing is there.
QWidget* touchAt(const QPoint& global);

// Touches `target` at `local` (its centre when null): true when the touch
// landed on it or on one of its children. Otherwise records a test failure
// naming what was hit instead.
bool tap(QWidget* target, const QPoint& local = QPoint(-1, -1));

// A short description of a widget for failure messages.
QString describe(const QWidget* w);

// Answers the next modal box (QApplication::activeModalWidget) by touching,
// where it shows, the visible button that `pick` chooses from it. The box's
// text goes to `seen` when given. Call before the code that runs exec(); the
// touch happens from the event loop. A box that does not come within
// timeoutMs, or a button that is not on top where it shows, fails the test.
void answerBox(const std::function<QAbstractButton*(QWidget* box)>& pick, int timeoutMs = 5000,
               QString* seen = nullptr);

// The same, picking the visible button whose caption is `caption`.
void answerBox(const QString& caption, int timeoutMs = 5000, QString* seen = nullptr);

// The house boxes' own answers: YES or NO of a question box, OK of a message
// box. Answers whichever of the two shows.
void answerYes(int timeoutMs = 5000, QString* seen = nullptr);
void answerNo(int timeoutMs = 5000, QString* seen = nullptr);

// Touches the YES/OK (or NO/OK) of any house box that shows now; returns its
// text, or a null string when none shows. For hands that answer every box of a
// running journey from a timer.
QString answerShownBox(bool yes);

// Opens the drop-down list with a touch and touches its entry `index`:
// true when the box then shows it.
bool choose(QComboBox* box, int index);

// Types the digits on the shared number pad, touching each key where it shows.
bool typeDigits(const QString& digits);

} // namespace finger
