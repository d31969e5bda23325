#include "settings/helpwidget.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>

HelpWidget::HelpWidget(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("background: #1e2837;"));
    m_page = new QLabel(this);
    m_page->setGeometry(20, 20, gShowW - 40, gShowH - 140);
    m_page->setAlignment(Qt::AlignCenter);
    m_page->setWordWrap(true);
    m_page->setFont(boxpaint::houseFont(24));
    m_page->setStyleSheet(QStringLiteral("color: white;"));
    m_close = new ColorButton(messageText(121), this, 3);
    m_close->setGeometry(gShowW - 260, gShowH - 100, 240, 80);
    connect(m_close, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

HelpWidget::~HelpWidget() = default;

bool HelpWidget::loadPage()
{
    const QString base = QStringLiteral("./help/help%1").arg(gHelpC);
    QPixmap pic(base + ".png");
    if (!pic.isNull()) {
        m_page->setPixmap(pic.scaled(m_page->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return true;
    }
    QFile txt(base + ".txt");
    if (txt.open(QIODevice::ReadOnly)) {
        m_page->setText(QString::fromUtf8(txt.readAll()));
        return true;
    }
    m_page->setText(QStringLiteral("%1 %2").arg(messageText(792)).arg(gHelpC));
    return false;
}

void HelpWidget::showEvent(QShowEvent* e)
{
    loadPage();
    QWidget::showEvent(e);
}
