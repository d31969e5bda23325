#pragma once
#include <QLabel>
#include <QPixmap>

// A picture that reports a touch.
class Label : public QLabel
{
    Q_OBJECT
public:
    Label(QWidget* parent, QPixmap pixmap);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
};
