#include "widgets/modifytimewidget.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/editdatetime.h"

#include <QPainter>

ModifyTimeWidget::ModifyTimeWidget(QWidget* parent)
    : ChooseBox(parent, 750, 370)
{
    m_editor = new EditDateTime(QString(), this);
    m_editor->setGeometry(0, 50, 280, 60);
    m_yes->setText(boxpaint::msg(121));
    m_no->setText(boxpaint::msg(124));
}

void ModifyTimeWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, QRect(0, 0, width(), height()));
}
