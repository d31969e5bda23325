#pragma once
#include <QString>
#include <QWidget>

class QPushButton;
class QLineEdit;
class QProgressBar;
class QSlider;

// Style-sheet helpers with four colour themes. Holds no state: callers make a
// temporary one (or call the functions statically) and apply a theme to a
// widget. Every function replaces the target's whole style sheet. A theme
// number outside 0..3 leaves the target untouched.
class C_Type_COM : public QWidget
{
    Q_OBJECT
public:
    enum C_Color {
        C_Black = 0, // dark grey buttons, amber when pressed
        C_Green = 1,
        C_Blue = 2,  // the value editors' fields use this one
        C_Red = 3
    };

    explicit C_Type_COM(QWidget* parent = nullptr);

    static void setBtnQss(QPushButton* b, const QString& normalBg, const QString& normalText,
                          const QString& hoverBg, const QString& hoverText,
                          const QString& pressedBg, const QString& pressedText);
    static void setBtnQss(QPushButton* b, int c);

    static void setTxtQss(QLineEdit* e, const QString& normal, const QString& focus);
    static void setTxtQss(QLineEdit* e, int c);

    static void setBarQss(QProgressBar* p, const QString& background, const QString& chunk);
    static void setBarQss(QProgressBar* p, int c); // no theme for bars: does nothing

    static void setSliderQss(QSlider* s, const QString& groove, const QString& subPage, const QString& handle);
    static void setSliderQss(QSlider* s, int c);

    // Sheet for the scroll areas of the network settings.
    static QString getSlider();

    static bool isTheme(int c) { return c >= C_Black && c <= C_Red; }

public slots:
    void initForm() {}
};
