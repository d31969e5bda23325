#include "widgets/fuzzycombobox.h"

#include <QSortFilterProxyModel>
#include <QStringListModel>

FuzzyComboBox::FuzzyComboBox(QWidget* parent)
    : ComboBox(parent)
{
    m_source = new QStringListModel(this);
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_source);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    setModel(m_filter);
}

void FuzzyComboBox::setStringList(const QStringList& list)
{
    m_source->setStringList(list);
    m_rowBeforeFilter = m_sourceRowBeforeFilter = -1;
}

QStringList FuzzyComboBox::stringList() const
{
    return m_source->stringList();
}

void FuzzyComboBox::setFilterFixedString(const QString& text)
{
    m_rowBeforeFilter = currentIndex();
    const QModelIndex cur = m_filter->index(m_rowBeforeFilter, 0);
    m_sourceRowBeforeFilter = cur.isValid() ? m_filter->mapToSource(cur).row() : -1;
    m_filter->setFilterFixedString(text);
}

void FuzzyComboBox::checkFilterResult(int index)
{
    if (m_filter->rowCount() > 0)
        return;
    m_filter->setFilterFixedString(QString());
    // The owner remembers the row it saw before filtering; under a narrowed
    // filter that row number means a different name in the full list, so map
    // it back to the item it stood for.
    int row = index;
    if (index >= 0 && index == m_rowBeforeFilter && m_sourceRowBeforeFilter >= 0)
        row = m_sourceRowBeforeFilter;
    if (row < 0 || row >= count())
        row = count() > 0 ? 0 : -1;
    if (index < 0)
        row = -1;
    setCurrentIndex(row);
}
