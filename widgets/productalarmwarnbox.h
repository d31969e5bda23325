#pragma once
#include "widgets/warnbox.h"

// Shown by the cycle poll once the production count reaches its set number;
// confirming switches off the two outputs the limit switched on and restarts
// the count.
class ProductAlarmWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit ProductAlarmWarnBox(QWidget* parent);

public slots:
    void accept() override;
};
