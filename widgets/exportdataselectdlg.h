#pragma once
#include <QDialog>
#include <QStringList>
#include <QVector>

class CheckBox;
class ColorButton;

// Lets the operator tick the kinds of data to export. A tri-state select-all
// box (captioned with the title) sits above the item boxes, four to a row.
// getResult(): the title alone when everything is ticked, an empty list when
// nothing is, else the ticked items in order.
class ExportDataSelectDlg : public QDialog
{
    Q_OBJECT
public:
    ExportDataSelectDlg(const QStringList& items, const QString& title, QWidget* parent = nullptr);

    QStringList getResult() const;

    CheckBox* selectAllBox() const { return m_all; }
    const QVector<CheckBox*>& itemBoxes() const { return m_items; }
    ColorButton* exportButton() const { return m_export; }
    ColorButton* exitButton() const { return m_exit; }

    static QString noSelectionText();

public slots:
    void updateMainCheckState();

private:
    void onExport();

    CheckBox* m_all = nullptr;
    QVector<CheckBox*> m_items;
    ColorButton* m_export = nullptr;
    ColorButton* m_exit = nullptr;
};
