#include "widgets/choosecalinumwidget.h"
#include "widgets/boxpaint.h"
#include "widgets/combobox.h"

#include <QPainter>

ChooseCaliNumWidget::ChooseCaliNumWidget(QWidget* parent)
    : ChooseBox(parent, 750, 370)
{
    m_choice = new ComboBox(this);
    m_choice->setFont(boxpaint::houseFont(33));
    m_choice->move((width() - 200) / 2, height() / 4 + 30);
    m_choice->setFixedSize(200, 50);
    m_choice->setItemHeight(50);
    m_choice->addItems({QStringLiteral(" 4 "), QStringLiteral(" 9 "), QStringLiteral(" 25 ")});
}

void ChooseCaliNumWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, QRect(0, 0, width(), height()));
    p.setPen(Qt::red);
    p.setFont(boxpaint::houseFont(40));
    p.drawText(QRect(50, 50, width(), 50), Qt::AlignHCenter | Qt::AlignVCenter, m_text);
    boxpaint::drawFrame(p, width(), height());
}
