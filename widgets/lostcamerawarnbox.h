#pragma once
#include "widgets/warnbox.h"

#include <QtGlobal>

// Shown instead of the ordinary lost-camera warning when the station is set
// to power off on a lost camera; its only way out is the power-off.
//
// Its Shut Down takes a touch only once the box has been on the screen for a
// moment with no window over it closing (it is greyed until then): the
// second of two quick taps that closed a box above it, or a tap meant for a
// box that was there a moment ago, lands on Shut Down and must not power
// the panel off.
class LostCameraWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit LostCameraWarnBox(QWidget* parent);

    static constexpr int kSettleMs = 1000;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void holdTouch();
    void releaseTouch();

    qint64 m_takesTouchAt = 0; // on the house clock
};
