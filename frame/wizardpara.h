#pragma once
#include <QDir>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QSqlQuery;

// The whole parameter set of the station. Two instances live for the whole
// run: the live set gpWPara and the settings window's edit copy gpWParaBak.
// Stored in PARAM.db, table sysparam(name, value), one row per key; a value
// is blank-separated decimal integers, except the three password rows.
// Every subsystem reads the fields directly; all numeric fields are signed
// 32-bit, "switch" means 0 off, anything else on.
class WizardPara
{
public:
    WizardPara();
    ~WizardPara();
    WizardPara(const WizardPara& other) = default;
    // Copies every member, in declaration order; the only way the live set
    // and the edit copy are synchronised (commit and revert of the settings
    // window). The group name is read by a worker thread, so the copy runs
    // under the group-name lock (taken by assignLock_, released by
    // assignUnlock_, the first and the last member).
    WizardPara& operator=(const WizardPara& other) = default;

    // True when the two sets hold the same settings: every stored value, the
    // passwords, the values derived at load, the colour-area limits and the
    // parameter group. The hardware description is not compared.
    bool operator==(const WizardPara& other) const;
    bool operator!=(const WizardPara& other) const { return !(*this == other); }

    // ---------------------------------------------------------------------
    // Loading, saving, parameter group (through gpWin->paraQuery)
    // ---------------------------------------------------------------------
    void LoadDatafromFile();
    // False when nothing was written (database busy, read-only or damaged,
    // or the last LoadDatafromFile could not read the stored set).
    bool SaveDatatoFile();
    void SaveChkDBItem(const QString& key);
    void SaveAddFile();
    void updateGroupName();
    QString getCurGroupName() const; // safe from the statistics worker thread

    // Hardware description and config.json.
    void loadCpuInfo();
    void loadConfigFromJson();
    bool isSupportLCD() const;

    // Building blocks of the above, usable on any query (factory defaults,
    // tools). They do not touch gpWin.
    // Reads every sysparam row into the fields; inserts the rows of the newer
    // keys that are missing. Returns false when the query could not run.
    bool readRows(QSqlQuery& query);
    // Writes every sysparam row; a missing row is created. Returns false
    // when any statement failed (nothing is left half-written then).
    bool writeRows(QSqlQuery& query) const;
    // Forces out-of-range values back to their defaults.
    void validate();
    // Derives detection routing and gDNum from the machine mode. The
    // current-mould flag of the main window is written through mouldFlag
    // when given.
    void deriveByMode(int* mouldFlag);
    // Fills gaName from name.txt or the per-mode defaults.
    void loadIONames() const;
    // Parses one numeric value as the load does: missing or unreadable
    // positions read 0 for the rest of the row.
    static QVector<int> parseValue(const QString& value, int positions);
    // The 27 sysparam keys in the order they are written.
    static QStringList storedKeys();
    // The text a row of this set holds (the password rows: the password).
    QString rowValue(const QString& key) const;

private:
    struct AssignLock {
        AssignLock() = default;
        AssignLock(const AssignLock&) {}
        AssignLock& operator=(const AssignLock&);
    };
    AssignLock assignLock_;

public:
    // ---------------------------------------------------------------------
    // Camera settings, one value per camera
    // ---------------------------------------------------------------------
    int exposeTime[8] = {};
    int adjustPlus[8] = {};
    int sharp[8] = {};
    int contrast[8] = {};
    int gamma[8] = {};
    int saturation[8] = {};
    int noise3D[8] = {};
    int noise2D[8] = {};

    // ---------------------------------------------------------------------
    // Detections and trigger routing
    // ---------------------------------------------------------------------
    int trigInDelay[8] = {};   // 0.1 s after the trigger
    int trigInput[8] = {};     // derived: 0-based input of detection d, -1/255 none
    int outInitState[9] = {};  // initial (inverted) state of outputs 1..9
    int semiAuto = 0;
    int detectEnabled[8] = {}; // derived: detection d takes part in the cycle

    // ---------------------------------------------------------------------
    // Switches and values of the common, I/O and advanced pages
    // ---------------------------------------------------------------------
    int stopClampOnStop = 0;
    int motionCorrect = 0; // 0 on, -1 off
    int cutEjectorOnClamp = 0;
    int isPswUsed = 0;
    int tempAutoUpdate = 0;
    int enableProdDetect = 0;
    int tempNum = 0;
    int ngRecNum = 0;
    int okRecNum = 0;
    int scrOffTime = 0;
    int camSpeed = 0;
    int amplify = 0;
    int autoLogout = 0;
    int reCheckTimes = 0;
    int reCheckDelay = 0;
    int ejectorPulse = 0;
    int clampPulse = 0;
    int out4Pulse = 0;
    int iTime = 0;
    int shakeEraseTime = 0;
    int reInspectDelay = 0;
    int filterSize = 0;
    int alarmArea = 0;
    int colorAreaMin = 0; // row "colorArea"
    int colorAreaMax = 0;
    int matchAccuracy = 0;
    int zoomLayers = 0;
    int noEjectorCtrlProd = 0;
    int ejectorPulseProdNG = 0;
    int moldNGClampPulse = 0;
    int in4Use = 0;
    int cutClampFixedTime = 0;
    int cutEjectorFixedTime = 0;
    int okNgPulses = 0;
    int cutEjectorOnProdDetect = 0;
    int cutClampOnMoldDetect = 0;
    int outOnMoldCavity = 0;
    int noDetectModeSignal = 0;
    int prodDetectOption = 0;
    int inputResetRecheck = 0;
    int noAlarmSound = 0;
    int noEjectorPin = 0;
    int resampleNoCut = 0;
    int stopDetectCutOff = 0;
    int prodInspectOption = 0;
    int moldInspectOption = 0;
    int nocheckPswUsed = 0;
    int addTempPswUsed = 0;
    int stopDetectPswUsed = 0;
    int doorLiftAlarm = 0;
    int useDefect = 0;
    int useSpot = 0;
    int useIgnoreArea = 0;
    int useManualLocate = 0;
    int showAllParam = 0;
    int doorTrigDetect = 0;
    int spare3v10 = 0;
    int useStatistics = 0;
    int out4Use = 0;
    int offsetValue = 0;
    int spare7v11 = 0;
    int tempIsNG[8] = {};
    int realTimeROI = 0;
    int useLog = 0;
    int spare6v11 = 0;
    int matchBrightness = 0;
    int angleCorrect = 0;
    int noRefreshAfterAlarm = 0;
    int addAllCamTemp = 0;
    int camSampleSeparately = 0;
    int prodNGOption = 0;
    int shieldPin = 0;
    int camDisconnect = 0;
    int okMoldNum = 0;
    int continuationArea = 0;
    int rectToIrregular = 0;
    int continuousCopy = 0;
    int spare9v17 = 0;
    int imageZoom = 0;
    int polygonStartPoint = 0;
    int comPort = 0;
    int colorCamera = 0;
    int isColors[8] = {};
    int grayChannel = 0;
    int noLensOpt = 0;
    int minSpot = 0;
    int showManualSnap = 0;
    int showFactoryParam = 0;
    int separateDetectSignal = 0;
    int systemMode = 0;    // machine mode in force since start-up
    int systemModeSet = 0; // machine mode chosen in the settings
    int moldSelect = 0;
    int preCut = 0;
    int autoShading = 0;
    int useBlackArea = 0;
    int useWhiteArea = 0;
    int useWhiteNumber = 0;
    int useBlackNumber = 0;
    int useColorSpots = 0;
    int useSimilarity = 0;
    int rotateAngle = 0;
    int spareValue = 0;

    // ---------------------------------------------------------------------
    // Passwords, image saving, multi-detection tables and the rest
    // ---------------------------------------------------------------------
    char password[100] = {}; // operator password, NUL-terminated Latin-1
    QString nocheckPassword;
    QString alarmPassword;
    int days = 0;
    int lostUpanAlarm = 0;
    int useDiskSaveImage = 0;
    int NgShowSwitch = 0;
    int spare7v12 = 0;
    int multiDetectNum = 0;
    int multiOutDetect[8] = {};
    int multiTrigIn[8] = {};
    int multiCutMode[8] = {};
    int customInName[8] = {};
    int customOutName[8] = {};
    int statusOutNum = 0; // derived
    int sequentialDetect = 0;
    int extTrigger = 0;
    int spare11a[8] = {};
    int spare11b[8] = {};
    int hMirror[8] = {};
    int vMirror[8] = {};
    QString curGroupName;
    QDir groupDir;
    int groupIndex = 0;
    int spare9v19 = 0;
    QJsonObject configJson;
    QString cpuVendor;
    QString cpuModelName;
    QString cpuProductLine;
    QString cpuSeries;
    QString cpuGeneration;
    int cpuGenerationNum = 0;

private:
    // Members whose assignment brackets the member-wise copy with the
    // group-name lock; see operator=.
    struct AssignUnlock {
        AssignUnlock() = default;
        AssignUnlock(const AssignUnlock&) {}
        AssignUnlock& operator=(const AssignUnlock&);
    };
    AssignUnlock assignUnlock_;
};
