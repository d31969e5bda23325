#pragma once
#include <QSplashScreen>

class QDialog;
class QLabel;
class QProgressBar;

// Start-up splash: the background picture full screen with a progress bar and
// a status line. Start-up advances it step by step; steps never go back, and a
// step above 99 closes the progress part for good.
class SplashFrame : public QSplashScreen
{
    Q_OBJECT
public:
    SplashFrame();

    void flushstep(int step, const QString& text = QString());

    static QString getStyle();

    int currentStep() const { return m_step; }
    bool progressOpen() const { return m_dialog != nullptr; }
    QString statusText() const; // empty once the progress part is closed
    int barValue() const;       // -1 once the progress part is closed

private:
    QProgressBar* m_bar = nullptr;
    QDialog* m_dialog = nullptr;
    int m_step = 0;
};
