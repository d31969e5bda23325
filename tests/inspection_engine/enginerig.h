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
#include <vector>

// One ROI of a test detection (a rectangle).
struct Roi
{
    int type;
    cv::Rect box;
    int A, B, C;
    int cavity; // the cavity it watches, -1 plate
};

// The typical detection over the simulated mould at 1280 x 1024 with 2 x 2
// cavities: 10 defect ROIs over cavities and plate, 4 spot ROIs, 2 spot-count
// ROIs on the guide pins, 2 similarity ROIs and the positioning ROI (mono) or
// a colour-spot ROI (colour).
std::vector<Roi> typicalDetection(const std::vector<cv::Rect>& cavities, bool colour);

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

    // A new ROI of detection d with its type, shape kind and parameters.
    int newRoi(int d, int type, int kind, int A, int B, int C);
    // Adds a rectangle ROI of detection d; returns its number.
    int addRect(int d, int type, cv::Rect box, int A = 0, int B = 0, int C = 0);
    // Adds a ring ROI (outer and inner radius, frame pixels) of detection d.
    int addRing(int d, int type, cv::Point centre, int radius, int inner, int A = 0, int B = 0, int C = 0);
    void addRois(int d, const std::vector<Roi>& rois);
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
