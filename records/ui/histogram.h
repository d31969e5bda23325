#pragma once
#include <QList>
#include <QWidget>

// Bar chart of paired OK (green) and NG (red) counts, one pair per hour of a
// shift, the clock hour under each pair, a legend at the top right.
class Histogram : public QWidget
{
    Q_OBJECT
public:
    Histogram(QWidget* parent, QList<int> x, QList<int> y1, QList<int> y2);

    void modifyDataAxisX(QList<int> x);
    bool modifyDataAxisY1(QList<int> y1);
    bool modifyDataAxisY2(QList<int> y2);
    bool modifyDataAxisY(QList<int> y1, QList<int> y2);

    int barCount() const { return m_n; }
    int maxY() const { return m_maxY; }
    QList<int> axisX() const { return m_x; }

    static QColor okColor() { return QColor(0, 255, 0, 200); }
    static QColor ngColor() { return QColor(255, 0, 0, 200); }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void clcMaxY();
    void changed();

    QList<int> m_x;
    QList<int> m_y1;
    QList<int> m_y2;
    int m_n = 0;
    int m_maxY = 0;
};
