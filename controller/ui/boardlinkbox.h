#pragma once
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>
#include <functional>

class ControlPort;
class QTimer;

// The notice on the main screen while the I/O board cannot be reached (no
// valid answer, or its port not open): the machine's inputs are not read and
// the outputs the station sets do not reach the machine, so a cleared alarm
// or a verdict shown changes nothing at the machine. It stays while that
// lasts and goes when the board answers again.
//
// It is no window of its own and has no button: it lies on the main screen
// over the camera views, on the left clear of the side bar, under the house
// boxes (windows of their own) and under every page and panel raised over
// the screen, so a page closed over it shows it again. The operator goes on
// working meanwhile: it takes no touch (one on it reaches the view under
// it), and it keeps off what the main window names to be left free (the
// views' controls, the handles of a region being edited, the big verdict),
// following them while it shows, so none of them hides under it.
class BoardLinkBox : public QWidget
{
    Q_OBJECT
public:
    BoardLinkBox(QWidget* mainWindow, ControlPort* port);

    QString text() const { return m_text; }
    // Shows the notice for an IOThread::Link, or hides it (Answering).
    void showLink(int link);
    // What to leave free, in the main window's coordinates.
    void setKeepClear(std::function<QVector<QRect>()> keepClear) { m_keepClear = std::move(keepClear); }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    // Moves to the free place nearest the top left (the least covered one
    // when no place is free).
    void place();

    QString m_text;
    std::function<QVector<QRect>()> m_keepClear;
    QTimer* m_follow = nullptr;
};
