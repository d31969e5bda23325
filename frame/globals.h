#pragma once
// Process-wide state shared by the subsystems. Values start with g, object
// pointers with gp, arrays with ga, flags with gis.
#include "inspection/pixelbuffer.h"

#include <QMap>
#include <QString>

class QMutex;
class QPixmap;
class MainState;
class WizardPara;
class WarnBox;
class ChooseBox;
class PasswordBox;
class NumberInput;
class NumCharInput;
class ControlPort;
class NetworkSettingDialog;
class SplashFrame;
class CameraInterface;

// Message table: message m in language l is gaLanStr[4 * m + l].
constexpr int kLanStrCount = 8192;
extern QString gaLanStr[kLanStrCount];
extern int gLan; // 0 Simplified Chinese, 1 English, 2 Traditional Chinese, 3 Japanese

// Parameter sets: the live one and the settings window's edit copy.
extern WizardPara* gpWPara;
extern WizardPara* gpWParaBak;

extern int numCamera;  // camera views in use
extern int gDNum;      // detections per camera
extern int gShowW;     // screen size in pixels
extern int gShowH;

// The main window's state (the window itself derives from it).
extern MainState* gpWin;

extern int gTempNum;   // template slots per detection
extern int gPicNumNG;  // kept-image limits of the result folders
extern int gPicNumOK;
extern int gisCOM;
extern int gisGrayHue; // non-zero: colour frames become grey, else hue

extern int gSource;    // image source of the ROI editor
extern int gFromTrain;
extern int gDrawHint;
extern int gHelpC;
extern QString gTempTime;
extern QString gDeviceID;

// I/O names shown on the status strip, filled when the parameters load.
constexpr int kIONameCount = 18;
extern QString gaName[kIONameCount];
extern const int TriginNo[8]; // 1-based board input of trigger choice k
extern const int OutputNo[8]; // 1-based board output of detection step k (mode 3)

extern QMutex* pMutexIO;
extern QMutex* pMutexSaveFail;
extern int gfLED; // descriptor of the LED device, negative when missing

extern QPixmap* gpPixmapBG;
extern QPixmap* gpPixmapTitle;
extern QPixmap* gpPixmapLine;
extern QPixmap* gpPixmapEdit;
extern QPixmap* gpPixmapSlideru;
extern QPixmap* gpPixmapSliderd;
extern QPixmap* gpPixmapSlidert;
extern QPixmap* gpPixmapOUT[2];

// Shared dialogs, created once by the main window.
extern WarnBox* gpWarnBox;
extern ChooseBox* gpChooseBox;
extern PasswordBox* gpPasswordBox;
extern NumberInput* gpNumPad;
extern NumCharInput* gpNumCharPad;
extern WarnBox* gpLostCameraWarnBox;
extern WarnBox* gpProductAlarmWarnBox;
extern NetworkSettingDialog* gpNetDialog;

extern ControlPort* gpControlIO;
extern SplashFrame* g_splashframe;

extern QMap<QString, CameraInterface*> cameraInterfaceMap;

extern QString ts_create;
extern QString ts_firstpress;
extern QString ts_calibrate;
extern int ts_calibrate_times; // presses counted while a calibration could be armed

// Production counters per camera.
extern int gAllNum[8];
extern int gFailNum[8];
extern int gAllCycleNum[8];
extern int gFailCycleNum[8];
extern int gSyncNGNum;
extern int gSyncNGCycleNum;

// Result-image slots: the main window composes an image into a slot and
// raises its flag; the writer thread copies it out and clears the flag. Index
// [camera][detection][slot], slot 0 the NG image, slot 1 the OK image. Every
// access holds pMutexSaveFail; each buffer keeps the size it was made with.
extern PixelBuffer gpFailImage[8][8][2];
extern int gFailIndex[8][8];     // 1-based first NG ROI of the image in slot 0
extern bool gisSaveFail[8][8][2];

// Archive suffixes offered by the software download.
extern const QString package[3];

extern const char* const kSoftwareVersion; // "18.22.1.83"
