#pragma once
#include <QSplashScreen>

class QProgressBar;

// A small progress splash (300 x 30 bar) for short waits.
class SplashFrameInit : public QSplashScreen
{
    Q_OBJECT
public:
    SplashFrameInit();

    void flush();
    void flushstep(int v);
    void flushstep_plus(int d);

    int currentValue() const { return m_value; }

private:
    QProgressBar* m_bar = nullptr;
    int m_value = 0;
};
