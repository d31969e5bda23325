#include "widgets/textshowwidget.h"

#include <QIcon>
#include <QPushButton>
#include <QTextBrowser>

TextShowWidget::TextShowWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(560, 300);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setStyleSheet("outline:0px; border:2px solid #00BCD4");

    m_text = new QTextBrowser(this);
    m_text->setGeometry(0, 0, 560, 300);
    m_text->setStyleSheet("font-size:15px;");

    m_close = new QPushButton(this);
    m_close->setIcon(QIcon("./images/error.png"));
    m_close->setStyleSheet("outline:0px;border:none;background-color:rgba(110,110,110,0)");
    m_close->setGeometry(500, 0, 60, 60);
    m_close->setFixedSize(60, 60);
    m_close->setIconSize(QSize(40, 40));
    connect(m_close, &QPushButton::clicked, this, [this]() {
        emit sigHideWidget();
        hide();
    });
}
