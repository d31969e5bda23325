#include "widgets/ccomp_dialogframe.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtDebug>

CComp_DialogFrame::CComp_DialogFrame(const QString& title, QWidget* parent)
    : QDialog(parent)
{
    qInfo().noquote() << "open dialog:" + title;

    auto* bar = new QWidget(this);
    bar->setObjectName("titlebar");
    bar->setFixedHeight(60);
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet("color:white;background-color:rgb(80,80,80);font-size:32px");

    m_title = new QLabel(title, bar);
    m_title->setFixedHeight(60);

    m_ok = new QPushButton(QString::fromUtf8("确定"), bar);
    m_ok->setFixedSize(100, 50);
    m_ok->setStyleSheet("outline:0px;border:none;font-size:32px;color:white;background-color:#8BC34A;");
    // pressed, not clicked: a touch that slides off the button still counts
    connect(m_ok, &QPushButton::pressed, this, &CComp_DialogFrame::acceptDialog);

    m_titleLayout = new QHBoxLayout(bar);
    m_titleLayout->addWidget(m_title);
    m_titleLayout->addStretch();
    m_titleLayout->addWidget(m_ok);
    m_titleLayout->setContentsMargins(8, 0, 8, 0);

    m_body = new QWidget(this);
    m_body->setObjectName("body");

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(bar);
    lay->addWidget(m_body);
    lay->setSpacing(5);
    lay->setContentsMargins(0, 0, 0, 5);

    setMinimumSize(1000, 800);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
}

void CComp_DialogFrame::setTitleText(const QString& text)
{
    m_title->setText(text);
    m_title->repaint();
}

QString CComp_DialogFrame::titleText() const
{
    return m_title->text();
}

void CComp_DialogFrame::addTitleWgt(QWidget* w)
{
    if (!w)
        return;
    m_titleLayout->insertWidget(m_titleLayout->count() - 1, w);
}

void CComp_DialogFrame::acceptDialog()
{
    accept();
}

// The frame stays where it was placed: presses and moves are swallowed.
void CComp_DialogFrame::mousePressEvent(QMouseEvent* e)
{
    e->accept();
}

void CComp_DialogFrame::mouseReleaseEvent(QMouseEvent* e)
{
    e->accept();
}

void CComp_DialogFrame::mouseMoveEvent(QMouseEvent* e)
{
    e->accept();
}

void CComp_DialogFrame::setStylePushButton(QPushButton* b, const QString& colour, int fontPx, const QString& extra)
{
    if (!b)
        return;
    b->setStyleSheet(QString("QPushButton{outline:0px;border:none;font-size:%2px;color:white;background-color:%1;}"
                             "QPushButton:pressed{color:#ffffff;background:#f1c232;}")
                         .arg(colour)
                         .arg(fontPx)
                     + extra);
}

void CComp_DialogFrame::setStyleLineEdit(QLineEdit* e, const QString& extra)
{
    if (!e)
        return;
    e->setStyleSheet(QStringLiteral("QLineEdit{color:white;font-size:20px;border: 1px solid #959595;height:32px;}"
                                    "QLineEdit:!focus{border: 1px solid #959595;background:transparent;color:white;}"
                                    "QLineEdit:focus{background:white;color:black;}")
                     + extra);
}

void CComp_DialogFrame::setStyleCombobox(QComboBox* c, QStyledItemDelegate* d, const QString& extra)
{
    if (!c)
        return;
    if (d)
        c->setItemDelegate(d);
    c->setStyleSheet(QStringLiteral(
                         "QComboBox {color:white;font-size:22px;height:40px;border:1px solid #BDBDBD;background-color:#607D8B;combobox-popup:0;}"
                         "QComboBox::drop-down{width:40px;height:40px;border-style:none;}"
                         "QComboBox::down-arrow{width:30px;height:30px;image:url(:/img/Resources/RightTriangle.png);}"
                         "QComboBox::down-arrow:open{image: url(:/img/Resources/DownTriangle.png);}"
                         "QComboBox QAbstractItemView::item {outline:0px;color:black;min-height:45px;height:40px;background-color:white;}"
                         "QComboBox QAbstractItemView::item:focus {color:white;min-height:50px;height:40px;background-color:#607D8B;}")
                     + extra);
}

void CComp_DialogFrame::setDefaultWgt(QWidget* w, const QString& extra)
{
    if (!w)
        return;
    w->setStyleSheet(QStringLiteral(
                         "QDialog{background-color:rgb(110,110,110);outline:0px;border:none;}"
                         "QTabWidget::pane{border: 1px solid #BDBDBD;background-color:#616161;}"
                         "QTabWidget::tab-bar{alignment:left;top:1px;}"
                         "QTabBar::tab{color:white;border: 1px solid #BDBDBD;padding-left: 10px;padding-right: 10px;}"
                         "QTabBar::tab:selected{height:50px;width:110px;color:white;font-size:26px;background-color:#616161;border: 1px solid #BDBDBD;border-bottom: 1px solid #616161;}"
                         "QTabBar::tab:!selected{height:40px;width:110px;font-size:22px;top:10px;background-color: rgb(110, 110, 110);}"
                         "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;}"
                         "QLabel{color:white;font-size:26px;}"
                         "QRadioButton,QCheckBox{color:white;font-size:26px;}"
                         "QRadioButton::indicator{width:32px;height:32px;}"
                         "QCheckBox::indicator{width:32px;height:32px;}"
                         "QRadioButton::indicator::unchecked {image: url(:/img/Resources/RadioBox1.png);}"
                         "QRadioButton::indicator::checked {image: url(:/img/Resources/RadioBox2.png);}"
                         "QCheckBox::indicator::unchecked {image: url(./images/CheckBox1.png);}"
                         "QCheckBox::indicator::checked {image: url(./images/CheckBox2.png);}"
                         "QListWidget{font-size:22px;color:white;background-color:#616161;alternate-background-color:#757575;border:1px solid #BDBDBD;}"
                         "QScrollArea{background-color:rgb(80,80,80);}"
                         "QLineEdit{color:white;font-size:20px;padding:0px 5px 0px 5px;border: 1px solid #959595;height:32px;}"
                         "QLineEdit:!focus{border: 1px solid #959595;background:transparent;color:white;}"
                         "QLineEdit:focus{background:white;color:black;}")
                     + extra);
}
