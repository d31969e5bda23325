#pragma once
#include "controller/mainstate.h"
#include "frame/globals.h"

#include <QWidget>

// The main window and inspection controller. One instance, reached through
// gpWin from the start of its constructor; gpWizard() gives the window
// itself to screen code.
class ReDoWizard : public QWidget, public MainState
{
    Q_OBJECT
public:
    explicit ReDoWizard(QWidget* parent = nullptr);
    ~ReDoWizard() override;

    int CheckPassword() override;
    bool CheckRoot() override;
    QObject* windowObject() override { return this; }
    void refresh() override { update(); }

    bool eventFilter(QObject* watched, QEvent* e) override;

    // False when PARAM.db could not be opened at construction.
    bool paraDbOpen() const { return m_paraDbOpen; }

private:
    bool m_paraDbOpen = false;
};

// The main window, for screen code (gpWin is its core state).
inline ReDoWizard* gpWizard() { return static_cast<ReDoWizard*>(gpWin); }
