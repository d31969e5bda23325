#pragma once
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammerrecong.h"
#include "inspection/cammersingleton.h"
#include "testsupport/testenv.h"

#include <QMutex>
#include <QStringList>
#include <opencv2/core.hpp>

#include <memory>

// A main window that keeps the records it is asked to write.
class RecordingState : public MainState
{
public:
    bool InsertRecord(const QString& text, const QString& type) override
    {
        records << text + " | " + type;
        return true;
    }
    QStringList records;
};

// One camera view with its live store and parameters, no screen.
struct EngineRig
{
    EngineRig(int width, int height, bool colour = false);
    ~EngineRig();

    // Adds a rectangle ROI of detection d; returns its number.
    int addRect(int d, int type, cv::Rect box, int A = 0, int B = 0, int C = 0);
    // Adds a ring ROI (outer and inner radius, frame pixels) of detection d.
    int addRing(int d, int type, cv::Point centre, int radius, int inner, int A = 0, int B = 0, int C = 0);
    // The frame as the camera delivered it, copied through alignment and positioning.
    void setFrame(const cv::Mat& frame);
    void setTemplate(int d, int k, const cv::Mat& image);
    cv::Mat work() { return mat(view.workFrame.data()); }
    cv::Mat mat(unsigned char* p) { return cv::Mat(view.imageHeight, view.imageWidth, view.isColor ? CV_8UC4 : CV_8UC1, p); }
    CammerRecong& engine();

    TestEnv env;
    RecordingState win;
    WizardPara para;
    CameraViewState view;
    CammerSingleton* store = nullptr;
    std::unique_ptr<CammerRecong> recong;
};
