#pragma once
#include "inspection/roicommit.h"

#include <QWidget>

class CammerWidget;
class ColorButton;
class ComboBox;
class QPushButton;

// The ROI editor's side panel: chooses the image source, camera and
// detection, arms the drawing tools of the camera views, deletes ROIs and
// commits the edit copies (RoiCommit). Made once by the main window, hidden
// until Reset opens it.
// Adds the alarm points of the NG ROIs of detection d to its ignore mask:
// every non-zero pixel of the alarm image (defectMask) inside an alarm
// rectangle of a ROI
// whose measured value is at most `limit`, clipped to the frame. A ROI above
// the limit is left out with message 115. Returns the number of pixels set.
int ignoreAlarmPoints(CameraViewState& v, int d, int limit = 2000);

class DrawROIWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 240;

    explicit DrawROIWidget(QWidget* parent);
    ~DrawROIWidget() override;

    void Reset(bool op);
    void Restart();
    void setSource(int s);
    void ChangeDetectNum(int n);
    void setCheckable();
    RoiCommit& commit() { return m_commit; }

    // Widgets, in layout order.
    QPushButton* showHide = nullptr;
    ComboBox* sourceCombo = nullptr;
    ComboBox* cameraCombo = nullptr;
    ComboBox* detectCombo = nullptr;
    ComboBox* rangeCombo = nullptr;
    ColorButton* returnButton = nullptr;
    ColorButton* opButton = nullptr;
    ColorButton* noCheckButton = nullptr;
    ColorButton* addTempButton = nullptr;
    ColorButton* autoChangeButton = nullptr;
    ColorButton* helpButton = nullptr;
    ColorButton* rectButton = nullptr;
    ColorButton* circleButton = nullptr;
    ColorButton* polygonButton = nullptr;
    ColorButton* handButton = nullptr;
    ColorButton* copyButton = nullptr;
    ColorButton* deleteButton = nullptr;
    ColorButton* deleteAllButton = nullptr;
    ColorButton* prevButton = nullptr;
    ColorButton* nextButton = nullptr;
    ColorButton* deleteTempButton = nullptr;
    ColorButton* showIgnoreButton = nullptr;
    ColorButton* ignoreButton = nullptr;
    ColorButton* deleteIgnoreButton = nullptr;
    QPushButton* reCheckButton = nullptr;

    // Saved result images of sources 3 and 4.
    QStringList recordFiles;
    QString recordFolder;
    int recordIndex = 0;

    bool shownAtLeft = false;
    bool resetPending = false;
    int pageFlag = 0;

public slots:
    void SlotShowHide();
    void SlotReturn();
    void SlotChangeSource(int s);
    void SlotChangeCamera(int c);
    void SlotChangeDetect(int d);
    void SlotChangeOp();
    void SlotCopyArea();
    void SlotDrawHand();
    void SlotDrawRect();
    void SlotDrawCircle();
    void SlotDrawPloygn();
    void SlotDeleteROI();
    void SlotDeleteAllROI();
    void SlotTempLast();
    void SlotTempNext();
    void SlotTempDeleteCur();
    void SlotTempDeleteAll();
    void SlotAddTemp();
    void SlotAutoChange();
    void SlotChangeRange(int r);
    void LoadPic();
    void SlotChangePage();
    void SlotSaveData();
    void startDrawPloygn();
    void SlotHelp();
    // gTempTime: the time of template n of camera c, detection d.
    void GetTempTIme(int c, int d, int n);
    // NG alarm.
    void SlotReCheck();
    void SlotNoCheckCur();
    void notCheckcur();
    void SlotShowHideAlarmPoint();
    void SlotIgnoreAlarmPoint();
    void SlotDeleteIgnorePoint();
    // A touch on the all-cameras grid chose camera c.
    void followCamera(int c);

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    CammerWidget* view(int c) const;
    CammerWidget* shownView() const;
    bool editing() const; // a shown camera in range and the template source
    void arm(int mode);
    void drawRectOrRing(bool ring);
    void resetDrawCaptions();
    void placePanel();
    void showTemplate(CammerWidget* v);
    void listRecords();
    void stepTemplate(int dir);
    bool addTemplate(int c, int d);
    // The shown camera moves (wrapping) to the first camera still NG.
    void toNextFailedCamera(int from);
    void clearResults(CameraViewState* v, int d);

    RoiCommit m_commit;
};
