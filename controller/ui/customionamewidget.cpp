#include "controller/ui/customionamewidget.h"
#include "controller/ui/iowidget.h"
#include "frame/globals.h"
#include "frame/ionames.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>

namespace {
const int kCell = 180;
const int kCellH = 60;

int lan()
{
    return qBound(0, gLan, 3);
}
} // namespace

CustomIONameWidget::CustomIONameWidget(QWidget* mainWindow, IOWidget* page)
    : QWidget(mainWindow)
    , m_main(mainWindow)
    , m_page(page)
{
    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint);
    // Eight 180-pixel columns on the panel; narrower on a smaller screen.
    const int screenW = gShowW > 0 ? gShowW : 1920;
    const int cell = qMin(kCell, (screenW - 40 - 7 * 10 - 20) / 8);
    const int cellH = qMin(kCellH, qMax(44, cell / 3));
    const int font = qMax(14, qRound(30.0 * cell / kCell));

    m_grid = new QGridLayout(this);
    m_grid->setSpacing(10);
    m_grid->setSizeConstraint(QLayout::SetFixedSize);
    const auto label = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setFixedSize(cell, cellH);
        l->setFont(boxpaint::houseFont(font));
        l->setAlignment(Qt::AlignCenter);
        boxpaint::setTextColour(l, Qt::yellow);
        return l;
    };
    const auto chooser = [&](const QString (*names)[4], int count) {
        auto* c = new ComboBox(this);
        c->setFixedSize(cell, cellH);
        c->setFont(boxpaint::houseFont(font));
        c->setItemHeight(cellH);
        for (int i = 0; i < count; ++i)
            c->addItem(names[i][lan()]);
        return c;
    };
    for (int c = 0; c < kCustomIOColumns; ++c) {
        m_inLabel[c] = label(gCustomInputName[c][lan()]);
        m_in[c] = chooser(gInName, kInNameCount);
        m_outLabel[c] = label(gCustomOutputName[c][lan()]);
        m_out[c] = chooser(gOutName, kOutNameCount);
        m_grid->addWidget(m_inLabel[c], 0, c);
        m_grid->addWidget(m_in[c], 1, c);
        m_grid->addWidget(m_outLabel[c], 2, c);
        m_grid->addWidget(m_out[c], 3, c);
    }
    m_confirm = new ColorButton(boxpaint::msg(121), this, 3);
    m_confirm->setFixedSize(cell, qMin(70, cellH + 10));
    m_confirm->fitCaption();
    m_grid->addWidget(m_confirm, 4, 7);
    connect(m_confirm, &QPushButton::clicked, this, &CustomIONameWidget::accept);
    show();
}

CustomIONameWidget::~CustomIONameWidget() = default;

void CustomIONameWidget::init()
{
    for (int c = 0; c < kCustomIOColumns; ++c) {
        const int in = m_page->inName(c);
        const int out = m_page->outName(c);
        m_in[c]->setCurrentIndex(in >= 0 && in < kInNameCount ? in : 0);
        m_out[c]->setCurrentIndex(out >= 0 && out < kOutNameCount ? out : 0);
    }
}

void CustomIONameWidget::accept()
{
    for (int c = 0; c < kCustomIOColumns; ++c) {
        const int in = qMax(0, m_in[c]->currentIndex());
        const int out = qMax(0, m_out[c]->currentIndex());
        m_page->setInName(c, in);
        m_page->setOutName(c, out);
        if (gpWParaBak) {
            gpWParaBak->customInName[c] = in;
            gpWParaBak->customOutName[c] = out;
        }
    }
    hide();
    m_page->ResetIOName();
    emit settingsWindowRequested();
}

void CustomIONameWidget::showEvent(QShowEvent* e)
{
    if (m_main)
        move((m_main->width() - width()) / 2, (m_main->height() - height()) / 2);
    QWidget::showEvent(e);
}

void CustomIONameWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, rect());
}
