#include "widgets/textshowwidget.h"

#include <QIcon>
#include <QPushButton>
#include <QTextBrowser>

namespace {
const int kCloseSize = 60; // the close button, in the panel's top-right corner

// The text view keeps its lines out of the band of the close button: a line
// running under the button is cut where a person reads the reason of a test.
class PanelText : public QTextBrowser
{
public:
    PanelText(QWidget* parent, int top)
        : QTextBrowser(parent)
    {
        setViewportMargins(0, top, 0, 0);
        // The band above the viewport is the frame's own: unfilled, the
        // dialog under the panel would show through it.
        setAutoFillBackground(true);
        QPalette ground = palette();
        ground.setColor(QPalette::Window, ground.color(QPalette::Base));
        setPalette(ground);
    }
};
} // namespace

TextShowWidget::TextShowWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(560, 300);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setStyleSheet("outline:0px; border:2px solid #00BCD4");

    m_text = new PanelText(this, kCloseSize);
    m_text->setGeometry(0, 0, 560, 300);
    m_text->setStyleSheet("font-size:15px;");

    m_close = new QPushButton(this);
    m_close->setIcon(QIcon("./images/error.png"));
    m_close->setStyleSheet("outline:0px;border:none;background-color:rgba(110,110,110,0)");
    m_close->setGeometry(560 - kCloseSize, 0, kCloseSize, kCloseSize);
    m_close->setFixedSize(kCloseSize, kCloseSize);
    m_close->setIconSize(QSize(40, 40));
    connect(m_close, &QPushButton::clicked, this, [this]() {
        emit sigHideWidget();
        hide();
    });
}
