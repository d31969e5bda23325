#include "widgets/mulcheckbox.h"

#include <QCheckBox>
#include <QListWidget>
#include <QStyledItemDelegate>

MulCheckbox::MulCheckbox(QWidget* parent)
    : QComboBox(parent)
{
    m_list = new QListWidget(parent);
    setModel(m_list->model());
    setView(m_list);
    setItemDelegate(new QStyledItemDelegate(this));
}

void MulCheckbox::addChkItem(const QString& text, bool checked)
{
    auto* item = new QListWidgetItem(m_list);
    auto* box = new QCheckBox(text);
    box->setFixedWidth(200);
    box->setChecked(checked);
    m_list->setItemWidget(item, box);
}
