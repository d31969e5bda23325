#pragma once
#include <QComboBox>

class QListWidget;

// Combo box whose drop-down is a list of check boxes.
class MulCheckbox : public QComboBox
{
    Q_OBJECT
public:
    explicit MulCheckbox(QWidget* parent = nullptr);
    void addChkItem(const QString& text, bool checked);
    QListWidget* listWidget() const { return m_list; }

private:
    QListWidget* m_list = nullptr;
};
