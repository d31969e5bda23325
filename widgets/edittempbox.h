#pragma once
#include <QString>
#include <QWidget>

class EditTempParam;
class QLabel;
class QLineEdit;

// A lower/upper bound pair around a measured value: low field, value, high
// field. judgeValue() says whether the value lies within the bounds.
class EditTempBox : public QWidget
{
    Q_OBJECT
public:
    EditTempBox(int min, int max, int, int, QWidget* parent, const QString& caption, QString unit, int type,
                int divisor);

    void setValue(int v);
    int value() const { return m_value; }
    bool judgeValue() const { return m_low <= m_value && m_value <= m_high; }
    void setValueRange(int low, int high);
    void setValueRange();
    void setMinValue(int v);
    void setMaxValue(int v);
    int getMinValue() const { return m_low; }
    int getMaxValue() const { return m_high; }
    void valueRange(int& low, int& high) const;
    bool checkFocus(QLineEdit* e) const;

    EditTempParam* minField() const { return m_minField; }
    EditTempParam* maxField() const { return m_maxField; }
    QLabel* valueLabel() const { return m_valueLabel; }

signals:
    void valueChanged(int value);

public slots:
    void CheckRange();

private:
    QString display(int v) const;

    QLabel* m_caption;
    EditTempParam* m_minField;
    QLabel* m_valueLabel;
    EditTempParam* m_maxField;
    int m_allowedMin;
    int m_allowedMax;
    int m_value = 0;
    int m_low = 0;
    int m_high = 0;
    int m_type;
    int m_divisor;
};
