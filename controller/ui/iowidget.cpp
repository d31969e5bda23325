#include "controller/ui/iowidget.h"
#include "controller/ui/iocheckcombo.h"
#include "frame/globals.h"
#include "frame/ionames.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"

#include <QPainter>

namespace {

const int kPanelW = 1800;
const int kPanelH = 950;

int inRange(int v, int lo, int hi, int otherwise)
{
    return v >= lo && v <= hi ? v : otherwise;
}

} // namespace

IOWidget::IOWidget(QWidget* settingsWindow)
    : QWidget(settingsWindow)
{
    // The panel's page is 1800 x 950; a smaller screen gets the same layout
    // scaled down so every control stays reachable.
    const int screenW = gShowW > 0 ? gShowW : kPanelW;
    const int screenH = gShowH > 0 ? gShowH : kPanelH;
    m_scale = qMin(1.0, (screenW - 60) / double(kPanelW - 100));
    m_scaleY = qMin(1.0, (screenH - 10) / double(kPanelH));
    const auto X = [this](int v) { return qRound(v * m_scale); };
    const auto Y = [this](int v) { return qRound(v * m_scaleY); };
    const int w = qMin(kPanelW, screenW);
    const int h = qMin(kPanelH, screenH);
    const QWidget* host = settingsWindow;
    const int pw = host && host->width() > 0 ? host->width() : w;
    const int ph = host && host->height() > 0 ? host->height() : h;
    setGeometry((pw - w) / 2, (ph - h) / 2, w, h);

    const int ctlH = qRound(40 * qMax(m_scaleY, 0.75));
    m_count = new ComboBox(this);
    for (int m = 501; m <= 507; ++m)
        m_count->addItem(boxpaint::msg(m));
    m_count->setGeometry(X(40), Y(70), X(150), ctlH);
    m_count->setFont(boxpaint::houseFont(qMax(14, X(32))));
    m_count->setItemHeight(ctlH);

    m_notSeq = new CheckBox(this, boxpaint::msg(675));
    m_notSeq->setGeometry(X(280), Y(70), X(450), ctlH);
    m_notSeq->setFont(boxpaint::houseFont(qMax(14, X(28))));

    for (int r = 0; r < 8; ++r) {
        m_rows[r] = new IOCheckComBO(this, QString(), 8);
        m_rows[r]->setIndex(r);
        m_rows[r]->applyScale(m_scale);
        m_rows[r]->move(X(30), Y(140 + 70 * r));
    }

    m_confirm = new ColorButton(boxpaint::msg(121), this, 3);
    m_confirm->setGeometry(w - X(250), h - Y(95), X(200), Y(75));
    m_reset = new ColorButton(boxpaint::msg(497), this, 3);
    m_reset->setGeometry(w - X(480), h - Y(95), X(200), Y(75));
    m_confirm->fitCaption();
    m_reset->fitCaption();
    connect(m_confirm, &QPushButton::clicked, this, &IOWidget::accept);
    connect(m_reset, &QPushButton::clicked, this, &IOWidget::reset);
    connect(m_count, qOverload<int>(&QComboBox::currentIndexChanged), this, &IOWidget::SlotChangeDetectNum);

    initIOWidget();
}

IOWidget::~IOWidget() = default;

QString IOWidget::inputText(int choice) const
{
    const int n = inRange(choice, 0, 7, 0);
    return gInName[inRange(m_inName[n], 0, kInNameCount - 1, 0)][inRange(gLan, 0, 3, 0)];
}

QString IOWidget::outputText(int index) const
{
    const int n = inRange(index, 0, 7, 0);
    return gOutName[inRange(m_outName[n], 0, kOutNameCount - 1, 0)][inRange(gLan, 0, 3, 0)];
}

void IOWidget::initIOWidget()
{
    // Stored values out of range load as none or as the first entry.
    const WizardPara* p = gpWPara;
    m_n = p ? inRange(p->multiDetectNum, 2, 8, 2) : 2;
    for (int k = 0; k < 8; ++k) {
        m_group[k] = p ? inRange(p->multiOutDetect[k], 0, 7, -1) : -1;
        m_cut[k] = p ? inRange(p->multiCutMode[k], 0, 5, 0) : 0;
        m_inName[k] = p ? inRange(p->customInName[k], 0, kInNameCount - 1, 0) : 0;
        m_outName[k] = p ? inRange(p->customOutName[k], 0, kOutNameCount - 1, 0) : 0;
        m_rows[k]->setChoice(p ? inRange(p->multiTrigIn[k], 0, 7, 0) : 0);
        const bool was = m_rows[k]->cutChooser()->blockSignals(true);
        m_rows[k]->cutChooser()->setCurrentIndex(m_cut[k]);
        m_rows[k]->cutChooser()->blockSignals(was);
    }
    const bool was = m_count->blockSignals(true);
    m_count->setCurrentIndex(m_n - 2);
    m_count->blockSignals(was);
    m_notSeq->setChecked(!(p && p->sequentialDetect));
    SlotChangeDetectNum(m_n - 2);
    hide();
}

void IOWidget::ResetIOName()
{
    for (IOCheckComBO* r : m_rows)
        r->resetName();
}

void IOWidget::SlotChangeDetectNum(int index)
{
    m_n = qBound(0, index, 6) + 2;
    for (int r = 0; r < 8; ++r) {
        if (r < m_n) {
            m_rows[r]->show();
            m_rows[r]->SetIONum(m_n, r == 0 ? 0 : m_rows[r - 1]->choice());
        } else {
            m_rows[r]->hide();
        }
    }
    ResetOutput();
    ResetIOName();
}

void IOWidget::ResetOutput()
{
    for (int r = 0; r < 8; ++r) {
        for (int i = 0; i < 8; ++i) {
            m_rows[r]->setCheckdisable(i, true);
            // In range quietly; outside it the uncheck is reported, so a step
            // of N or more (or held by a row of N or more) loses its group.
            m_rows[r]->clearBox(i, !(r < m_n && i < m_n));
        }
    }
    for (int k = 0; k < 8; ++k) {
        const int g = m_group[k];
        if (k < m_n && g >= 0 && g < m_n)
            m_rows[g]->setCheckComboStatus(k, true);
        else
            m_group[k] = -1;
    }
}

void IOWidget::exclude(int d, int o, bool enable)
{
    for (int r = 0; r < m_n; ++r) {
        if (r < d)
            for (int i = o; i < m_n; ++i)
                m_rows[r]->setCheckdisable(i, enable);
        else if (r > d)
            for (int i = 0; i <= o; ++i)
                m_rows[r]->setCheckdisable(i, enable);
    }
}

void IOWidget::SlotClickCheckBox(int Detect, int NO, int state)
{
    const bool checked = state == Qt::Checked;
    exclude(Detect, NO, !checked);
    if (checked)
        return;
    // What another checked box still rules out stays ruled out.
    for (int r = 0; r < m_n; ++r)
        for (int i = 0; i < m_n; ++i)
            if (m_rows[r]->getCheckComboStatus(i))
                exclude(r, i, false);
}

void IOWidget::SlotChangeTrigin(int Detect, int index)
{
    if (Detect >= 0 && Detect < 7)
        m_rows[Detect + 1]->updateTriginCombo(index);
}

void IOWidget::reset()
{
    for (IOCheckComBO* r : m_rows)
        for (int i = 0; i < 8; ++i) {
            r->setCheckdisable(i, true);
            r->clearBox(i, true);
        }
}

void IOWidget::accept()
{
    if (m_group[m_n - 1] == -1) {
        tellOperator(512);
        return;
    }
    if (gpWParaBak) {
        WizardPara& b = *gpWParaBak;
        b.multiDetectNum = m_n;
        for (int k = 0; k < 8; ++k) {
            b.multiOutDetect[k] = m_group[k];
            b.multiTrigIn[k] = m_rows[k]->choice();
            b.multiCutMode[k] = m_cut[k];
        }
        b.sequentialDetect = m_notSeq->isChecked() ? 0 : 1;
    }
    hide();
    if (gpWPara && gpWParaBak && gpWPara->systemMode == 3 && gpWParaBak->systemModeSet == 3)
        emit reCheckCaptionChanged(boxpaint::msg(511).arg(boxpaint::msg(476 + m_n)));
    emit pageLayoutRequested();
}

void IOWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, rect());
    p.setFont(boxpaint::houseFont(qMax(16, qRound(35 * m_scale))));
    p.setPen(QColor(0, 255, 255));
    // Centred over the page: the title is wider than the panel's 300-pixel box.
    p.drawText(QRect(0, qRound(20 * m_scaleY), width(), qRound(50 * m_scaleY)), Qt::AlignCenter, boxpaint::msg(499));
}
