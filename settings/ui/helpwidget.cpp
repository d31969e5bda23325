#include "settings/ui/helpwidget.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/safefile.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QDebug>

namespace {
const qint64 kMaxTextBytes = 1 << 20; // far more than a page shows
} // namespace

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
    // Only regular files within the image bound: a FIFO would hold the
    // window for good, a huge picture would take gigabytes.
    QString why;
    const QImage pic = readImageFile(base + ".png", &why);
    if (!pic.isNull()) {
        m_page->setPixmap(
            QPixmap::fromImage(pic).scaled(m_page->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return true;
    }
    if (why != QLatin1String("missing"))
        qWarning().noquote() << "help page" << base + ".png:" << why;
    QFile txt;
    if (openRegularFile(txt, base + ".txt", &why)) {
        m_page->setText(QString::fromUtf8(txt.read(kMaxTextBytes)));
        return true;
    }
    if (why != QLatin1String("missing"))
        qWarning().noquote() << "help page" << base + ".txt:" << why;
    m_page->setText(QStringLiteral("%1 %2").arg(messageText(792)).arg(gHelpC));
    return false;
}

void HelpWidget::showEvent(QShowEvent* e)
{
    loadPage();
    QWidget::showEvent(e);
}
