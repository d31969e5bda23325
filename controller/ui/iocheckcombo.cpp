#include "controller/ui/iocheckcombo.h"
#include "controller/ui/iowidget.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/combobox.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {
const int kCutMessages[6] = {474, 475, 523, 672, 673, 674};
}

IOCheckComBO::IOCheckComBO(IOWidget* parent, const QString& caption, int n)
    : QWidget(parent)
    , m_page(parent)
    , m_count(qBound(0, n, 8))
{
    auto* lay = new QHBoxLayout(this);
    lay->setSpacing(10);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSizeConstraint(QLayout::SetFixedSize);
    if (!caption.isEmpty()) {
        m_caption = new QLabel(caption, this);
        boxpaint::setTextColour(m_caption, Qt::yellow);
        m_caption->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
        lay->addWidget(m_caption);
    }
    m_trig = new ComboBox(this);
    lay->addWidget(m_trig);
    for (int i = 0; i < m_count; ++i) {
        m_boxes[i] = new CheckBox(this, QString());
        lay->addWidget(m_boxes[i]);
    }
    m_cut = new ComboBox(this);
    for (int m : kCutMessages)
        m_cut->addItem(boxpaint::msg(m));
    lay->addWidget(m_cut);
    applyScale(1.0);

    connect(m_trig, qOverload<int>(&QComboBox::currentIndexChanged), this, &IOCheckComBO::SlotChangeTrigin);
    void (IOCheckComBO::*handlers[8])(int) = {&IOCheckComBO::Slotclick0, &IOCheckComBO::Slotclick1,
                                            &IOCheckComBO::Slotclick2, &IOCheckComBO::Slotclick3,
                                            &IOCheckComBO::Slotclick4, &IOCheckComBO::Slotclick5,
                                            &IOCheckComBO::Slotclick6, &IOCheckComBO::Slotclick7};
    for (int i = 0; i < m_count; ++i)
        connect(m_boxes[i], &QCheckBox::stateChanged, this, handlers[i]);
    connect(m_cut, qOverload<int>(&QComboBox::currentIndexChanged), this, &IOCheckComBO::SlotChangeCutMode);
    connect(this, &IOCheckComBO::clickeCheckBox, parent, &IOWidget::SlotClickCheckBox);
    connect(this, &IOCheckComBO::changeTrigin, parent, &IOWidget::SlotChangeTrigin);
}

void IOCheckComBO::applyScale(double s)
{
    const int h = qRound(40 * qMax(s, 0.75));
    const int font = qMax(14, qRound(28 * s));
    m_fontPx = font;
    if (m_caption) {
        m_caption->setFixedSize(qRound(150 * s), h);
        m_caption->setFont(boxpaint::houseFont(font));
    }
    for (ComboBox* c : {m_trig, m_cut}) {
        c->setFixedSize(qRound((c == m_trig ? 150 : 155) * s), h);
        c->setFont(boxpaint::houseFont(font));
        c->setItemHeight(h);
    }
    for (int i = 0; i < m_count; ++i) {
        m_boxes[i]->setFixedSize(qRound(155 * s), h);
        m_boxes[i]->setFont(boxpaint::houseFont(font));
    }
}

void IOCheckComBO::fillChooser(int from)
{
    m_trig->clear();
    for (int c = from; c < m_n; ++c)
        m_trig->addItem(m_page->inputText(c));
}

void IOCheckComBO::SetIONum(int N, int start)
{
    m_n = qBound(1, N, 8);
    const bool was = m_trig->blockSignals(true);
    m_trig->clear();
    m_start = start;
    if (start < m_n) {
        fillChooser(start);
        if (m_choice >= m_n)
            m_choice = m_n - 1;
        // A choice below the start leaves no entry selected.
        m_trig->setCurrentIndex(m_choice >= start ? m_choice - start : -1);
    } else {
        m_start = m_choice = m_n - 1;
        m_trig->addItem(m_page->inputText(m_choice));
        m_trig->setCurrentIndex(0);
    }
    m_trig->blockSignals(was);
    for (int i = 0; i < m_count; ++i)
        m_boxes[i]->setVisible(i < m_n);
}

void IOCheckComBO::updateTriginCombo(int start)
{
    const int rel = m_choice - start;
    const bool was = m_trig->blockSignals(true);
    m_start = start;
    fillChooser(start);
    if (rel < 0) {
        m_choice = start;
        m_trig->setCurrentIndex(0);
    } else {
        m_trig->setCurrentIndex(rel);
    }
    m_trig->blockSignals(was);
    emit changeTrigin(m_row, m_choice);
}

// The largest house-font size up to the row's at which every entry of the
// chooser fits beside its arrow.
static void fitChooser(ComboBox* c, int px)
{
    int fit = px;
    for (int i = 0; i < c->count(); ++i)
        fit = qMin(fit, boxpaint::fittedPixelSize(boxpaint::houseFont(px), c->itemText(i), c->width() - 28, px, 11));
    c->setFont(boxpaint::houseFont(fit));
}

void IOCheckComBO::resetName()
{
    for (int i = 0; i < m_trig->count(); ++i)
        m_trig->setItemText(i, m_page->inputText(m_start + i));
    fitChooser(m_trig, m_fontPx);
    fitChooser(m_cut, m_fontPx);
    for (int i = 0; i < m_count && i < m_n; ++i) {
        const QString text = m_page->outputText(i < m_n - 1 ? i + 1 : 0);
        m_boxes[i]->setText(text);
        // On a smaller screen a long name shrinks rather than being cut.
        const int px = boxpaint::fittedPixelSize(m_boxes[i]->font(), text, m_boxes[i]->width() - 40, m_fontPx, 11);
        m_boxes[i]->setFont(boxpaint::houseFont(px));
    }
}

void IOCheckComBO::setCheckdisable(int i, bool enable)
{
    if (i < 0 || i >= m_count)
        return;
    if (!enable && m_boxes[i]->isChecked()) {
        // A box that is ruled out cannot keep its step.
        clearBox(i, false);
        if (m_page->group(i) == m_row)
            m_page->setGroup(i, -1);
    }
    m_boxes[i]->setEnabled(enable);
    boxpaint::setTextColour(m_boxes[i], enable ? Qt::yellow : Qt::gray);
}

void IOCheckComBO::setCheckComboStatus(int i, bool checked)
{
    if (i >= 0 && i < m_count)
        m_boxes[i]->setChecked(checked);
}

bool IOCheckComBO::getCheckComboStatus(int i) const
{
    return i >= 0 && i < m_count && m_boxes[i]->isChecked();
}

void IOCheckComBO::clearBox(int i, bool report)
{
    const bool was = report ? m_boxes[i]->signalsBlocked() : m_boxes[i]->blockSignals(true);
    m_boxes[i]->setChecked(false);
    m_boxes[i]->blockSignals(was);
}

void IOCheckComBO::SlotChangeTrigin(int index)
{
    if (index < 0)
        return;
    m_choice = m_start + index;
    emit changeTrigin(m_row, m_choice);
}

void IOCheckComBO::SlotChangeCutMode(int mode)
{
    if (mode >= 0)
        m_page->setCutMode(m_row, mode);
}

void IOCheckComBO::click(int i, int state)
{
    if (state == Qt::Checked)
        m_page->setGroup(i, m_row);
    else if (m_page->group(i) == m_row)
        m_page->setGroup(i, -1);
    emit clickeCheckBox(m_row, i, state);
}
