#pragma once
#include "controller/cyclehooks.h"
#include "controller/ui/redowizard.h"

// The cycle's calls into the views (as wired by setCycleCameras), the shared
// boxes and the window's signal.
class WindowCycleHooks : public CycleHooks
{
public:
    explicit WindowCycleHooks(ReDoWizard* w) : m_w(w) {}

    bool grab(int c) override { return calls.grab && calls.grab(c); }
    void inspect(int c, int d) override
    {
        if (calls.inspect)
            calls.inspect(c, d);
    }
    void saveFailImage(int c, int d, int slot) override
    {
        if (calls.saveFailImage)
            calls.saveFailImage(c, d, slot);
    }
    void updateFailImage(int c, int d, int slot) override
    {
        if (calls.updateFailImage)
            calls.updateFailImage(c, d, slot);
    }
    void saveReTrainImage(int c, int d) override
    {
        if (calls.saveReTrainImage)
            calls.saveReTrainImage(c, d);
    }
    void showJudgedFrames(const std::vector<int>& cameras) override
    {
        if (calls.showFrames)
            calls.showFrames(cameras);
    }
    void retrain(int c, int d) override
    {
        if (calls.retrain)
            calls.retrain(c, d);
    }
    void softTrigger(int c) override
    {
        if (calls.softTrigger)
            calls.softTrigger(c);
    }
    void startBlink(int c) override
    {
        if (calls.startBlink)
            calls.startBlink(c);
    }
    void setSpeed(int c) override
    {
        if (calls.setSpeed)
            calls.setSpeed(c);
    }
    // The ROI editor's alarm panel and template actions.
    void editorNotCheckCur() override;
    void editorReCheck() override;
    void editorOpenAlarm() override;
    void editorRestart() override;
    void editorSaveData() override;
    void deleteAllTemplates() override;
    void saveIgnorePoint(int camera, int d) override;
    bool windowsShown() override { return m_w->pageShown(); }
    bool settingsShown() override { return m_w->settingsWindowVisible(); }
    int chosenTrigger() override;
    int cameraShownAlone() override { return m_w->curCamera < numCamera ? m_w->curCamera : -1; }
    void startStopCaption(int msg) override;
    // The network services: the cycle record and the viewer link's alarm.
    void startPeriodRecord() override;
    void finishPeriodRecord() override;
    void alarmStartTiming(int d) override;
    void alarmFinishTiming() override;
    void markAlarmCleared() override;
    void addClearMethod(int camera, int method) override;
    void clearLastDetections() override;
    // The camera order as found now becomes the stored one (SN.db).
    void resetCameraOrder() override;

    // The poll's notices are not modal: the poll goes on behind them.
    void notice(int msg) override;
    void showLostCameraBox(bool show) override;
    void showProductAlarmBox(bool show) override;
    void repaint() override;
    void sendRecord(int d, int hour, const QList<bool>& ok, bool last) override;

    ReDoWizard::CycleCameraCalls calls;

private:
    ReDoWizard* m_w;
};

