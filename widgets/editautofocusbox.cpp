#include "widgets/editautofocusbox.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"

#include <QHBoxLayout>
#include <QLabel>

EditAutoFocusBox::EditAutoFocusBox(QString caption, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setSpacing(10);
    row->setSizeConstraint(QLayout::SetFixedSize);

    m_caption = new QLabel(caption, this);
    m_caption->setFixedSize(160, 50);
    m_caption->setFont(boxpaint::houseFont(27));
    boxpaint::setTextColour(m_caption, Qt::yellow);

    m_sub = new ColorButton(boxpaint::msg(718), this, 3);
    m_sub->setObjectName(QStringLiteral("pCBtnSub"));
    m_field = new Edit(9, this, 1);
    m_field->setFixedSize(150, 50);
    m_field->setFont(boxpaint::houseFont(27));
    m_field->setAlignment(Qt::AlignCenter);
    m_field->setRange(1, 300);
    m_add = new ColorButton(boxpaint::msg(719), this, 3);
    m_add->setObjectName(QStringLiteral("pCBtnAdd"));
    for (ColorButton* b : {m_sub, m_add}) {
        b->setFixedSize(270, 50);
        b->SetRepeat();
    }
    row->addWidget(m_caption);
    row->addWidget(m_sub);
    row->addWidget(m_field);
    row->addWidget(m_add);

    connect(m_sub, &QAbstractButton::clicked, this, [this]() { emit ValueChange(-1, m_field->value()); });
    connect(m_field, &Edit::focusOut, this, [this]() { emit ValueChange(0, m_field->value()); });
    connect(m_add, &QAbstractButton::clicked, this, [this]() { emit ValueChange(1, m_field->value()); });
}

void EditAutoFocusBox::setBtnText(int which, QString subText, QString addText)
{
    if (which & 1)
        m_sub->setText(subText);
    if (which & 2)
        m_add->setText(addText);
    update();
}
