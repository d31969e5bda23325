#include "widgets/combobox.h"

#include <QEvent>
#include <QListView>
#include <QStyledItemDelegate>

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    installEventFilter(this);
    setFocusPolicy(Qt::NoFocus);
    m_view = new QListView(this);
    setView(m_view);
    // A styled delegate is what makes the row height of setItemHeight() count;
    // the default menu-like delegate of the popup ignores style sheets.
    setItemDelegate(new QStyledItemDelegate(this));
}

void ComboBox::changeEvent(QEvent* e)
{
    // The popup is a window of its own: its rows follow the box's font.
    if (e->type() == QEvent::FontChange && m_view)
        m_view->setFont(font());
    QComboBox::changeEvent(e);
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == this)
        emit clicked();
    return QObject::eventFilter(watched, event);
}

void ComboBox::setItemHeight(int h)
{
    setStyleSheet(QString("QComboBox QAbstractItemView::item{height:%1px;}").arg(h)
                  + QString("QComboBox::tab-bar{border-width:0px;}"));
}

void ComboBox::setItemWidth(int w)
{
    if (m_view && w >= 0)
        m_view->setFixedWidth(w);
}
