#pragma once
#include <QString>
#include <QWidget>

class ColorButton;
class Edit;
class QLabel;

// A focus setting: "reduce" and "amplify" buttons around a 1..300 field.
// ValueChange(type, value): -1 reduce, 0 typed, 1 amplify.
class EditAutoFocusBox : public QWidget
{
    Q_OBJECT
public:
    EditAutoFocusBox(QString caption, QWidget* parent);

    // Bit 1 of `which` re-captions "pCBtnSub", bit 2 "pCBtnAdd".
    void setBtnText(int which, QString subText, QString addText);

    Edit* field() const { return m_field; }
    ColorButton* subButton() const { return m_sub; }
    ColorButton* addButton() const { return m_add; }

signals:
    void ValueChange(int type, int value);

private:
    QLabel* m_caption;
    ColorButton* m_sub;
    Edit* m_field;
    ColorButton* m_add;
};
