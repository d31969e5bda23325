#include "widgets/ccomp_moredialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CComp_MoreDialog::CComp_MoreDialog(const QString& title, QWidget* parent)
    : QDialog(parent)
{
    setFixedWidth(500);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setStyleSheet("background-color:gray;");

    auto* bar = new QWidget(this);
    bar->setFixedHeight(60);
    bar->setStyleSheet("color:white;background-color:rgb(80,80,80);font-size:32px;padding: 5px, 0px, 0px, 0px;");
    m_title = new QLabel(title, bar);
    m_title->setFixedHeight(60);
    auto* barLay = new QHBoxLayout(bar);
    barLay->setContentsMargins(0, 0, 0, 0);
    barLay->addWidget(m_title);

    m_desc = new QLabel(this);
    m_desc->setFixedHeight(150);
    m_desc->setStyleSheet("color:white;font-size:25px;");
    m_desc->setAlignment(Qt::AlignCenter);

    m_buttons = new QVBoxLayout;
    m_buttons->setSpacing(2);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    lay->addWidget(bar);
    lay->addWidget(m_desc);
    lay->addLayout(m_buttons);
}

void CComp_MoreDialog::addBtn(const QString& text)
{
    auto* b = new QPushButton(text, this);
    b->setFixedSize(500, 40);
    b->setStyleSheet("QPushButton{outline:0px;border:none;font-size:15px;height:25px;color:white;background-color:#3498DB;text-align:left;padding-left: 5px;}"
                     "QPushButton:hover{background-color:#FFC107;color:#3498DB;}"
                     "QPushButton:!hover{background-color:#3498DB;color:white;}");
    connect(b, &QPushButton::clicked, this, [this, b]() {
        emit sigClick(b->text());
        accept();
    });
    m_buttons->addWidget(b);
}
