#include "settings/ui/recordspage.h"
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"

#include <QDate>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QTableWidget>
#include <QVBoxLayout>


RecordsPage::RecordsPage(QWidget* parent)
    : QWidget(parent)
{
    const bool small = gShowW > 0 && gShowW <= 1024;
    const int font = small ? 18 : 22;
    auto* top = new QHBoxLayout;
    m_days = new ComboBox(this);
    m_days->setFixedSize(small ? 260 : 320, 50);
    m_days->setFont(boxpaint::houseFont(font));
    m_days->setItemHeight(50);
    m_clear = new ColorButton(boxpaint::msg(298), this, 3);
    m_clear->setFixedSize(small ? 380 : 480, 60);
    m_clear->fitCaption();
    m_return = new ColorButton(boxpaint::msg(58), this, 3);
    m_return->setFixedSize(small ? 160 : 200, 60);
    m_return->fitCaption();
    top->addWidget(m_days);
    top->addStretch();
    top->addWidget(m_return);
    top->addWidget(m_clear);

    m_table = new QTableWidget(0, 3, this);
    m_table->setHorizontalHeaderLabels({boxpaint::msg(288), boxpaint::msg(289), boxpaint::msg(290)});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setFont(boxpaint::houseFont(font));
    m_table->horizontalHeader()->setFont(boxpaint::houseFont(font));
    m_table->setColumnWidth(0, small ? 120 : 150);
    m_table->setColumnWidth(1, small ? 120 : 160);
    m_table->setWordWrap(true);

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(top);
    lay->addWidget(m_table);

    connect(m_days, qOverload<int>(&QComboBox::currentIndexChanged), this, &RecordsPage::showDay);
    connect(m_clear, &QPushButton::clicked, this, &RecordsPage::SlotClearRecord);
    // Back to the settings pages beneath, which kept what was edited there.
    connect(m_return, &QPushButton::clicked, this, &QWidget::hide);
}

void RecordsPage::showEvent(QShowEvent* e)
{
    reload();
    QWidget::showEvent(e);
    // Escape reaches the page, whatever had the focus on the settings pages.
    setFocus();
}

void RecordsPage::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape)
        hide();
    else
        QWidget::keyPressEvent(e);
}

void RecordsPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, rect());
}

void RecordsPage::reload()
{
    const bool was = m_days->blockSignals(true);
    m_days->clear();
    m_files.clear();
    QString today = OperationRecords::instance()->storedDay();
    if (today.isEmpty())
        today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    m_days->addItem(today);
    m_files << QString::fromLatin1(OperationRecords::kDbFile);
    QStringList past = QDir(QString::fromLatin1(OperationRecords::kArchiveDir))
                           .entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& f : past) {
        m_days->addItem(f.chopped(3));
        m_files << QDir(QString::fromLatin1(OperationRecords::kArchiveDir)).filePath(f);
    }
    m_days->setCurrentIndex(0);
    m_days->blockSignals(was);
    showDay(0);
}

void RecordsPage::showDay(int i)
{
    m_table->setRowCount(0);
    if (i < 0 || i >= m_files.size())
        return;
    QVector<OperationRecords::Row> rows;
    OperationRecords::readRows(m_files[i], &rows);
    // Newest first.
    for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
        const int r = m_table->rowCount();
        m_table->insertRow(r);
        const QString cells[3] = {row->time, row->level, row->text};
        for (int c = 0; c < 3; ++c)
            m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    m_table->resizeRowsToContents();
}

void RecordsPage::SlotClearRecord()
{
    if (!askOperator(297))
        return;
    OperationRecords::instance()->ClearRecord();
    if (gpWin)
        gpWin->InsertRecord(boxpaint::msg(298), QStringLiteral("operate"));
    reload();
}
