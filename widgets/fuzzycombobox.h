#pragma once
#include "widgets/combobox.h"

class QStringListModel;
class QSortFilterProxyModel;

// A ComboBox over a list of names with a case-insensitive substring filter;
// the text to search for comes from a separate field of the owner.
class FuzzyComboBox : public ComboBox
{
    Q_OBJECT
public:
    explicit FuzzyComboBox(QWidget* parent = nullptr);

    void setStringList(const QStringList& list);
    QStringList stringList() const;
    void setFilterFixedString(const QString& text);

    // When the filter matches nothing, brings the whole list back and selects
    // row `index` (the row the owner remembered before filtering).
    void checkFilterResult(int index);

    QStringListModel* sourceModel() const { return m_source; }
    QSortFilterProxyModel* filterModel() const { return m_filter; }

private:
    QStringListModel* m_source = nullptr;
    QSortFilterProxyModel* m_filter = nullptr;
    // The item that was current when the filter last changed: its row under
    // the previous filter and its row in the full list.
    int m_rowBeforeFilter = -1;
    int m_sourceRowBeforeFilter = -1;
};
