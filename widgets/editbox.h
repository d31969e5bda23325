#pragma once
#include <QColor>
#include <QString>
#include <QWidget>

class ColorButton;
class EditParam;
class QHBoxLayout;
class QLabel;

// A labelled integer setting with -5, -1, +1, +5 step buttons. The value is
// the raw integer; display type 2 shows it divided by the divisor (tenths
// with divisor 10). Every change is clamped to the range at once.
class EditBox : public QWidget
{
    Q_OBJECT
public:
    EditBox(int min, int max, QWidget* parent, const QString& caption, QString unit, int type, int divisor);

    void setRange(int min, int max);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    void setUse0(bool use0) { m_use0 = use0; }
    void setSampleMode();

    EditParam* field() const { return m_field; }
    QLabel* captionLabel() const { return m_caption; }
    ColorButton* addOneButton() const { return m_add1; }
    ColorButton* subOneButton() const { return m_sub1; }
    ColorButton* addFiveButton() const { return m_add5; }
    ColorButton* subFiveButton() const { return m_sub5; }

signals:
    void valueChanged(int value);

public slots:
    void AddOne();
    void SubOne();
    void AddFive();
    void SubFive();
    int value() const { return m_value; }
    void setInputValue(int v) { m_value = v; }
    void setValue(int v);
    void setValue();
    void CheckRange();
    void setText(QString text);
    int getType() const { return m_type; }
    void setSampleShow();
    void setLabelColor(QColor c);

protected:
    void paintEvent(QPaintEvent*) override {}

private:
    void step(int delta);

    EditParam* m_field;
    ColorButton* m_add1;
    ColorButton* m_sub1;
    ColorButton* m_add5;
    ColorButton* m_sub5;
    QLabel* m_caption;
    QHBoxLayout* m_row;
    int m_min;
    int m_max;
    int m_sizeStyle = 4;
    int m_value = 0;
    bool m_use0 = false;
    int m_divisor;
    int m_type;
    QString m_captionText;
};
