#pragma once
#include "widgets/warnbox.h"

// Shown instead of the ordinary lost-camera warning when the station is set
// to power off on a lost camera; its only way out is the power-off.
class LostCameraWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit LostCameraWarnBox(QWidget* parent);

    // The pause between closing the databases and the power-off (1 s);
    // tests replace it.
    using Sleeper = void (*)(int ms);
    static void setSleeper(Sleeper s);

public slots:
    void accept() override;
};
