#pragma once
#include <QDialog>
#include <QPair>
#include <QString>

class QButtonGroup;
class QDateEdit;

// Asks for the day range of a statistics export: custom, or one of 1, 7,
// 30, 180 and 365 days ending today. Editing a date by hand switches to
// custom.
class DateSeletDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DateSeletDialog(QWidget* parent = nullptr);

    // (start, end) as "yyyy-MM-dd", both included.
    QPair<QString, QString> getDays() const;
    void updateDate();

    int rangeId() const { return m_id; }
    QButtonGroup* rangeButtons() const { return m_group; }
    QDateEdit* startEdit() const { return m_start; }
    QDateEdit* endEdit() const { return m_end; }

private:
    QButtonGroup* m_group = nullptr;
    QDateEdit* m_start = nullptr;
    QDateEdit* m_end = nullptr;
    int m_id = 0;
};
