#pragma once
#include <QString>
#include <QWidget>

class ControlPort;

// The notice on the main screen while the I/O board cannot be reached (no
// valid answer, or its port not open): the machine's inputs are not read and
// the outputs the station sets do not reach the machine, so a cleared alarm
// or a verdict shown changes nothing at the machine. It stays while that
// lasts and goes when the board answers again.
//
// It is no window of its own and has no button: it lies on the main screen
// over the camera views, top left, clear of the side bar and the status
// strip, under the house boxes (windows of their own) and under every page
// and panel raised over the screen. So it takes no touch meant for them, and
// a page closed over it shows it again.
class BoardLinkBox : public QWidget
{
    Q_OBJECT
public:
    BoardLinkBox(QWidget* mainWindow, ControlPort* port);

    QString text() const { return m_text; }
    // Shows the notice for an IOThread::Link, or hides it (Answering).
    void showLink(int link);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_text;
};
