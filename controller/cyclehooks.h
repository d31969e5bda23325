#pragma once
#include <QList>
#include <QString>

#include <vector>

class CammerRecong;

// One camera's inspection of detection d on its engine: alignment,
// positioning, then the judgement of every ROI. The station's inspect hook
// and every test that stands in for a view run exactly this.
void inspectOnEngine(CammerRecong& engine, int d);

// What the machine cycle asks of the camera views, their engines, the ROI
// editor, the screens and the network services. The main window installs an
// implementation that calls the real objects; tests install their own. Every
// call comes on the GUI thread. Only grab and inspect are required: the rest
// default to "nothing to do" for a station without that part.
class CycleHooks
{
public:
    virtual ~CycleHooks();

    // --- camera views and engine ---
    // Takes the camera's newest frame into its view; true when it was new.
    virtual bool grab(int camera) = 0;
    // Alignment, positioning and judging of every ROI of detection d on the
    // view's current frame; sets the view's isOK and roiResult.
    virtual void inspect(int camera, int d) = 0;
    // Composes the result image of (camera, d) into gpFailImage's slot
    // (0 NG, 1 OK) under pMutexSaveFail. Does not raise the flag.
    virtual void saveFailImage(int camera, int d, int slot) { (void)camera, (void)d, (void)slot; }
    virtual void updateFailImage(int camera, int d, int slot) { (void)camera, (void)d, (void)slot; }
    // Keeps the current frame for an automatic template update of d.
    virtual void saveReTrainImage(int camera, int d) { (void)camera, (void)d; }
    // Software trigger of the camera (manual inspection).
    virtual void softTrigger(int camera) { (void)camera; }
    // The view's blink timer on an NG (1000 ms).
    virtual void startBlink(int camera) { (void)camera; }
    // Rebuilds positioning, alignment and matchers of d (after an accepted NG
    // or a template update).
    virtual void retrain(int camera, int d) { (void)camera, (void)d; }
    virtual void setSpeed(int camera) { (void)camera; }
    // The views of these cameras make their picture of the frames just
    // decided, side by side, before the screen is painted.
    virtual void showJudgedFrames(const std::vector<int>& cameras) { (void)cameras; }
    // Writes the (cleared) ignore mask of detection d to its file.
    virtual void saveIgnorePoint(int camera, int d) { (void)camera, (void)d; }

    // --- ROI editor and alarm panel ---
    virtual void editorNotCheckCur() {}   // skip checking this mould
    virtual void editorReCheck() {}       // the alarm panel's re-detect button
    virtual void editorOpenAlarm() {}     // all views shown, windows hidden, alarm panel open
    virtual void editorRestart() {}       // alarm panel closed after a passed re-detect
    virtual void editorSaveData() {}
    virtual void deleteAllTemplates() {}
    // True while the settings window or the ROI editor is shown.
    virtual bool windowsShown() { return false; }
    virtual bool settingsShown() { return false; }

    // --- screens ---
    // Non-modal notices of the poll (messages 39 and 656); the default asks
    // the installed operator prompt.
    virtual void notice(int msg);
    virtual void showLostCameraBox(bool show) { (void)show; }
    virtual void showProductAlarmBox(bool show) { (void)show; }
    virtual void repaint() {}
    virtual void startStopCaption(int msg) { (void)msg; }
    // The detection chosen in the side bar's manual-trigger chooser, -1 none.
    virtual int chosenTrigger() { return -1; }
    // The camera shown alone, -1 when all are shown.
    virtual int cameraShownAlone() { return -1; }

    // --- network services and statistics ---
    virtual void startPeriodRecord() {}
    virtual void finishPeriodRecord() {}
    virtual void alarmStartTiming(int d) { (void)d; }
    virtual void alarmFinishTiming() {}
    virtual void markAlarmCleared() {}
    virtual void addClearMethod(int camera, int method) { (void)camera, (void)method; }
    virtual void clearLastDetections() {}
    virtual void sendRecord(int d, int hour, const QList<bool>& ok, bool last)
    {
        (void)d, (void)hour, (void)ok, (void)last;
    }
    virtual void resetCameraOrder() {}
};
