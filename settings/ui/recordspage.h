#pragma once
#include <QWidget>

class ColorButton;
class ComboBox;
class QTableWidget;

// The settings window's page of operation records: the rows of one day
// (today, or a past day kept in ./RECORD), newest first, and clearing
// today's journal after the operator confirms. It lies over the whole
// settings window; Return (or Escape) takes it away and the settings pages
// show again as they were left, edits included.
class RecordsPage : public QWidget
{
    Q_OBJECT
public:
    explicit RecordsPage(QWidget* parent = nullptr);

    // Lists the days again and shows the chosen one.
    void reload();
    // Shows the rows of day entry i of the chooser (0 today).
    void showDay(int i);

    ComboBox* dayChooser() const { return m_days; }
    QTableWidget* table() const { return m_table; }
    ColorButton* clearButton() const { return m_clear; }
    ColorButton* returnButton() const { return m_return; }

public slots:
    void SlotClearRecord();

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    ComboBox* m_days = nullptr;
    QTableWidget* m_table = nullptr;
    ColorButton* m_clear = nullptr;
    ColorButton* m_return = nullptr;
    QStringList m_files; // per chooser entry, the database file
};
