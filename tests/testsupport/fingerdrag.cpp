#include "testsupport/fingerdrag.h"
#include "testsupport/finger.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QTest>

namespace finger {

Touch::Touch(const QPoint& global)
    : m_on(QApplication::widgetAt(global))
    , m_at(global)
{
    if (!m_on) {
        QTest::qFail(qPrintable(QStringLiteral("finger down at (%1,%2) touched no widget").arg(global.x()).arg(global.y())),
                     __FILE__, __LINE__);
        return;
    }
    m_down = true;
    QTest::mousePress(m_on, Qt::LeftButton, {}, m_on->mapFromGlobal(global));
}

Touch::~Touch()
{
    if (m_down)
        lift();
}

void Touch::moveTo(const QPoint& global)
{
    m_at = global;
    if (!m_down || !m_on)
        return;
    // QTest's own move carries no pressed button; a finger on the panel does.
    QMouseEvent move(QEvent::MouseMove, m_on->mapFromGlobal(global), global, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(m_on, &move);
}

void Touch::lift()
{
    if (!m_down)
        return;
    m_down = false;
    if (m_on)
        QTest::mouseRelease(m_on, Qt::LeftButton, {}, m_on->mapFromGlobal(m_at));
}

QWidget* drag(const QPoint& from, const QPoint& to, int steps)
{
    Touch t(from);
    for (int k = 1; k <= steps; ++k)
        t.moveTo(from + (to - from) * k / std::max(steps, 1));
    QWidget* on = t.widget();
    t.lift();
    return on;
}

} // namespace finger
