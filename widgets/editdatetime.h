#pragma once
#include <QWidget>

class QDateEdit;
class QLabel;
class QTimeEdit;

// Date and time editors with the operation that sets the panel's clock.
class EditDateTime : public QWidget
{
public:
    EditDateTime(const QString& caption, QWidget* parent);

    // Fills both editors with the current local date and time.
    void ShowDateTime();
    // Whether the editors' date and time exist in local time (not in the hour
    // a daylight-saving change skips).
    bool timeExists() const;
    // Sets the system clock and the hardware clock from the editors; a time
    // that does not exist sets nothing.
    void setSysDateTime();

    QDateEdit* dateEdit() const { return m_date; }
    QTimeEdit* timeEdit() const { return m_time; }
    QLabel* captionLabel() const { return m_caption; }

private:
    QDateEdit* m_date;
    QTimeEdit* m_time;
    QLabel* m_caption;
};
