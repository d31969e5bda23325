#pragma once
#include <QDialog>

class QLabel;
class QVBoxLayout;

// A column of choices under a title; a choice reports its text and closes.
class CComp_MoreDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_MoreDialog(const QString& title, QWidget* parent = nullptr);
    void addBtn(const QString& text);

signals:
    void sigClick(QString text);

private:
    QLabel* m_desc = nullptr;
    QLabel* m_title = nullptr;
    QVBoxLayout* m_buttons = nullptr;
};
