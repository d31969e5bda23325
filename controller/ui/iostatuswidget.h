#pragma once
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>
#include <functional>
#include <vector>

#include "widgets/shapedtext.h"

class QPainter;

// The band across the bottom of the main screen: a lamp per machine input
// and output with its name, the login state, the parameter group, the USB
// drive icon and the clock with the last cycle time. It keeps no state: each
// paint reads the parameters, the board, the main window and the drive
// (only the shaping of its texts is kept).
// A tap on it logs the operator out.
class IOStatusWidget : public QWidget
{
public:
    explicit IOStatusWidget(QWidget* parent);
    ~IOStatusWidget() override;

    struct Lamp {
        bool output = false;
        int n = 0;         // signal number
        QRect lamp;        // 70 x 80, strip pixels
        QRect label;       // 70 x 18, the name centred in it
        QString text;
    };
    // The lamps and labels drawn for the current settings and screen width.
    static QVector<Lamp> lamps();

    // Where the USB image writer's drive in use is mounted ("" when none);
    // installed by the main window.
    static void setDrivePathSource(std::function<QString()> f);
    // A cycle time in 0.1 s as the strip writes it: one decimal, at least
    // four characters ("8.5" is " 8.5").
    static QString cycleSecondsText(qint64 tenths);

    static constexpr int kHeight = 180;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    // Draws text with its baseline at (x, y), shrinking the font from px
    // until it fits in maxW; returns the right end.
    int drawFitted(QPainter& p, int x, int y, const QString& text, int px, int maxW);

    // Repainted with every frame of the views under it: the lamp names and
    // the texts are shaped once (the clock changes each second).
    ShapedText m_text{40};
    struct Fit {
        QString text;
        int px, maxW, size;
    };
    std::vector<Fit> m_fits;
    // The date and time shown, made again only when the second changes.
    QString timeText();
    qint64 m_shownSecond = -1;
    QString m_timeText;
};
