#include "widgets/exportdataselectdlg.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

ExportDataSelectDlg::ExportDataSelectDlg(const QStringList& items, const QString& title, QWidget* parent)
    : QDialog(parent)
{
    m_all = new CheckBox(this, title);
    m_all->setTristate(true);

    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(30, 10, 0, 0);
    QHBoxLayout* row = nullptr;
    for (int i = 0; i < items.size(); ++i) {
        if (i % 4 == 0) {
            row = new QHBoxLayout;
            rows->addLayout(row);
        }
        auto* box = new CheckBox(this, items[i]);
        row->addWidget(box);
        m_items.append(box);
        connect(box, &QCheckBox::toggled, this, &ExportDataSelectDlg::updateMainCheckState);
    }

    connect(m_all, &QCheckBox::clicked, this, [this](bool checked) {
        for (CheckBox* box : qAsConst(m_items)) {
            const QSignalBlocker block(box);
            box->setChecked(checked);
        }
        updateMainCheckState();
    });

    m_export = new ColorButton(tr("导出"), this, 3);
    m_exit = new ColorButton(tr("退出"), this, 3);
    connect(m_export, &QAbstractButton::clicked, this, &ExportDataSelectDlg::onExport);
    connect(m_exit, &QAbstractButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(20);
    buttons->addWidget(m_export);
    buttons->addWidget(m_exit);

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(m_all);
    lay->addLayout(rows);
    lay->addSpacing(20);
    lay->addLayout(buttons);

    setStyleSheet("QDialog {   border-image: url(./images/background.png)}"
                  "QCheckBox {   font-size: 24px;   color: yellow;   height: 50px;}"
                  "QPushButton {   font-size: 24px;   color: white;   height: 50px;}");
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
}

QString ExportDataSelectDlg::noSelectionText()
{
    return tr("未选择要导出的文件，请重新选择");
}

void ExportDataSelectDlg::onExport()
{
    if (m_all->checkState() == Qt::Unchecked) {
        WarnBox box(this);
        box.setText(noSelectionText());
        box.exec();
        return; // stays open for another choice
    }
    accept();
}

void ExportDataSelectDlg::updateMainCheckState()
{
    int checked = 0;
    int unchecked = 0;
    for (CheckBox* box : qAsConst(m_items))
        box->isChecked() ? ++checked : ++unchecked;
    const QSignalBlocker block(m_all);
    if (unchecked == 0)
        m_all->setCheckState(Qt::Checked);
    else if (checked == 0)
        m_all->setCheckState(Qt::Unchecked);
    else
        m_all->setCheckState(Qt::PartiallyChecked);
}

QStringList ExportDataSelectDlg::getResult() const
{
    switch (m_all->checkState()) {
    case Qt::Checked:
        return {m_all->text()};
    case Qt::Unchecked:
        return {};
    default: {
        QStringList out;
        for (CheckBox* box : m_items)
            if (box->isChecked())
                out << box->text();
        return out;
    }
    }
}
