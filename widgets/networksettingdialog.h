#pragma once
#include "widgets/ccomp_dialogframe.h"

// The network settings dialog (gpNetDialog), a framed dialog of the grey
// family. The network services fill its pages; the toolkit relies only on it
// being a dialog that can host the numeric pad of the address fields
// (keypad flag 0x20), so the pointer converts to QWidget* by plain upcast.
class NetworkSettingDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    using CComp_DialogFrame::CComp_DialogFrame;
};
