#pragma once
#include "widgets/warnbox.h"

// Shown instead of the ordinary lost-camera warning when the station is set
// to power off on a lost camera; its only way out is the power-off.
class LostCameraWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit LostCameraWarnBox(QWidget* parent);

public slots:
    void accept() override;
};
