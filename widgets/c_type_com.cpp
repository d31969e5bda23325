#include "widgets/c_type_com.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

namespace {

struct Theme {
    const char* normalBg;
    const char* normalText;
    const char* hoverBg;
    const char* hoverText;
    const char* pressedBg;
    const char* pressedText;
    const char* editFocus;
    const char* sliderColour;
};

const Theme kThemes[4] = {
    {"#323232", "#FFFFFF", "#323232", "#FFFFFF", "#C8934A", "#FFFFFF", "#34495E", "#191532"},
    {"#1ABC9C", "#E6F8F5", "#2EE1C1", "#FFFFFF", "#16A086", "#A7EEE6", "#1ABC9C", "#1ABC9C"},
    {"#3498DB", "#FFFFFF", "#5DACE4", "#E5FEFF", "#2483C7", "#A0DAFB", "#3498DB", "#3498DB"},
    {"#E74C3C", "#FFFFFF", "#EC7064", "#FFF5E7", "#DC2D1A", "#F5A996", "#E74C3C", "#E74C3C"},
};

} // namespace

C_Type_COM::C_Type_COM(QWidget* parent)
    : QWidget(parent)
{
}

void C_Type_COM::setBtnQss(QPushButton* b, const QString& normalBg, const QString& normalText,
                           const QString& hoverBg, const QString& hoverText,
                           const QString& pressedBg, const QString& pressedText)
{
    if (!b)
        return;
    b->setFocusPolicy(Qt::NoFocus);
    QStringList qss;
    qss << QString("QPushButton{border-style:none;padding:3px;border-radius:5px;color:%1;background:%2;}")
               .arg(normalText, normalBg);
    qss << QString("QPushButton:hover{color:%1;background:%2;}").arg(hoverText, hoverBg);
    qss << QString("QPushButton:pressed{color:%1;background:%2;}").arg(pressedText, pressedBg);
    b->setStyleSheet(qss.join(""));
}

void C_Type_COM::setBtnQss(QPushButton* b, int c)
{
    if (!isTheme(c))
        return;
    const Theme& t = kThemes[c];
    setBtnQss(b, t.normalBg, t.normalText, t.hoverBg, t.hoverText, t.pressedBg, t.pressedText);
}

void C_Type_COM::setTxtQss(QLineEdit* e, const QString& normal, const QString& focus)
{
    if (!e)
        return;
    QStringList qss;
    qss << QString("QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px solid %1;}").arg(normal);
    qss << QString("QLineEdit:focus{border:2px solid %1;}").arg(focus);
    e->setStyleSheet(qss.join(""));
}

void C_Type_COM::setTxtQss(QLineEdit* e, int c)
{
    if (!isTheme(c))
        return;
    setTxtQss(e, "#DCE4EC", kThemes[c].editFocus);
}

void C_Type_COM::setBarQss(QProgressBar* p, const QString& background, const QString& chunk)
{
    if (!p)
        return;
    QStringList qss;
    qss << QString("QProgressBar{font:9pt;height:%2px;background:%1;border-radius:%3px;text-align:center;border:1px solid %1;}")
               .arg(background).arg(8).arg(8);
    qss << QString("QProgressBar:chunk{border-radius:%2px;background-color:%1;}").arg(chunk).arg(8);
    p->setStyleSheet(qss.join(""));
}

void C_Type_COM::setBarQss(QProgressBar*, int)
{
}

void C_Type_COM::setSliderQss(QSlider* s, const QString& groove, const QString& subPage, const QString& handle)
{
    if (!s)
        return;
    QStringList qss;
    qss << QString("QSlider::groove:horizontal,QSlider::add-page:horizontal{height:%2px;border-radius:%3px;background:%1;}")
               .arg(groove).arg(14).arg(4);
    qss << QString("QSlider::sub-page:horizontal{height:%2px;border-radius:%3px;background:%1;}")
               .arg(subPage).arg(14).arg(4);
    qss << QString("QSlider::handle:horizontal{width:%2px;margin-top:-%3px;margin-bottom:-%3px;border-radius:%4px;"
                   "background:qradialgradient(spread:pad,cx:0.5,cy:0.5,radius:0.5,fx:0.5,fy:0.5,stop:0.6 #FFFFFF,stop:0.8 %1);}")
               .arg(handle).arg(16).arg(3).arg(6);
    qss << QString("QSlider {background:rgb(170,170,170);margin:5px;padding:2px;height:10px;border-radius:4px}");
    qss << QString("QSlider::sub-page:horizontal{background:qlineargradient(spread:pad, x1:0, y1:0, x2:1, y2:0, "
                   "stop:1 rgba(50,50,50, 255), stop:0 blue)}");
    s->setStyleSheet(qss.join(""));
}

void C_Type_COM::setSliderQss(QSlider* s, int c)
{
    if (!isTheme(c))
        return;
    setSliderQss(s, "#FFFBF0", kThemes[c].sliderColour, kThemes[c].sliderColour);
}

QString C_Type_COM::getSlider()
{
    return QStringLiteral(
        "QWidget{background-color:rgb(110,110,110);border:0px;}"
        "QScrollBar:vertical{background:#FFFFFF;padding-top:0px;padding-bottom:0px;padding-left:0px;padding-right:0px;solid #d7d7d7;border-radius:7px;}"
        "QScrollBar::handle:vertical{background:#B7B7B7;border-radius:7px;min-height:80px}"
        "QScrollBar::handle:vertical:hover{background:#949494;}"
        "QScrollBar::add-line:vertical {height:0px;subcontrol-position:bottom;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical {height:0px;subcontrol-position:top;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical:pressed {background-color:#FFC107;}");
}
