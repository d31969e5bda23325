#pragma once
#include "testsupport/finger.h"
#include <QPoint>
#include <QPointer>
#include <QWidget>

class QComboBox;

// A finger that stays on the screen: down at a global point on whatever
// widget is on top there (QApplication::widgetAt), moved, lifted. The widget
// it went down on keeps every event until it is lifted, as a touch panel's
// grab does, so drawing on a view stays on the view even when the finger
// passes over a control.
namespace finger {

class Touch
{
public:
    // Goes down at `global`; a failure names the point when nothing is there.
    explicit Touch(const QPoint& global);
    ~Touch();
    Touch(const Touch&) = delete;
    Touch& operator=(const Touch&) = delete;

    void moveTo(const QPoint& global);
    // Lifts at the last point (the destructor lifts a finger still down).
    void lift();
    // The widget it went down on (null when it touched nothing or it went).
    QWidget* widget() const { return m_on; }

private:
    QPointer<QWidget> m_on;
    QPoint m_at;
    bool m_down = false;
};

// Down at `from`, `steps` even moves to `to`, lifted there. Returns the
// widget the finger went down on.
QWidget* drag(const QPoint& from, const QPoint& to, int steps = 1);


} // namespace finger
