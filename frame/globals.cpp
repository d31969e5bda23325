#include "frame/globals.h"

QString gaLanStr[kLanStrCount];
int gLan = 0;

WizardPara* gpWPara = nullptr;
WizardPara* gpWParaBak = nullptr;

int numCamera = 0;
int gDNum = 4;
int gShowW = 1280;
int gShowH = 800;

MainState* gpWin = nullptr;

int gTempNum = 1;
int gPicNumNG = 0;
int gPicNumOK = 0;
int gisCOM = 1;
int gisGrayHue = 1;

int gSource = -1;
int gFromTrain = 0;
int gDrawHint = 0;
int gHelpC = 0;
QString gTempTime;
QString gDeviceID;

QString gaName[kIONameCount];
const int TriginNo[8] = {1, 3, 4, 5, 6, 7, 8, 9};
const int OutputNo[8] = {2, 4, 5, 6, 7, 8, 9, 1};

QMutex* pMutexIO = nullptr;
QMutex* pMutexSaveFail = nullptr;
int gfLED = -1;

QPixmap* gpPixmapBG = nullptr;
QPixmap* gpPixmapTitle = nullptr;
QPixmap* gpPixmapLine = nullptr;
QPixmap* gpPixmapEdit = nullptr;
QPixmap* gpPixmapSlideru = nullptr;
QPixmap* gpPixmapSliderd = nullptr;
QPixmap* gpPixmapSlidert = nullptr;
QPixmap* gpPixmapOUT[2] = {nullptr, nullptr};

WarnBox* gpWarnBox = nullptr;
ChooseBox* gpChooseBox = nullptr;
PasswordBox* gpPasswordBox = nullptr;
NumberInput* gpNumPad = nullptr;
NumCharInput* gpNumCharPad = nullptr;
WarnBox* gpLostCameraWarnBox = nullptr;
WarnBox* gpProductAlarmWarnBox = nullptr;
NetworkSettingDialog* gpNetDialog = nullptr;

ControlPort* gpControlIO = nullptr;
SplashFrame* g_splashframe = nullptr;

QMap<QString, CameraInterface*> cameraInterfaceMap;

QString ts_create;
QString ts_firstpress;
QString ts_calibrate;
int ts_calibrate_times = 0;

int gAllNum[8] = {};
int gFailNum[8] = {};
int gAllCycleNum[8] = {};
int gFailCycleNum[8] = {};
int gSyncNGNum = 0;
int gSyncNGCycleNum = 0;

const QString package[3] = {QStringLiteral("gz"), QStringLiteral("tar"), QStringLiteral("rar")};

const char* const kSoftwareVersion = "18.22.1.83";

PixelBuffer gpFailImage[8][8][2];
int gFailIndex[8][8] = {};
bool gisSaveFail[8][8][2] = {};
