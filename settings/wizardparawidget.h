#pragma once
#include <QWidget>
#include <functional>

class ColorButton;
class FuzzyComboBox;
class QLabel;

// The settings window: a full-screen child of the main window, hidden until
// the side bar opens it. It edits the copy gpWParaBak; OK commits the copy
// into the live set, Cancel throws it away. While it is visible the main
// window's own slots do nothing.
//
// This build offers the parameter group, the I/O pages, the operation
// records, the data export and the ways out (exit, shut down); the camera
// tuning, network, password, language, clock, factory-reset, calibration and
// update pages are not in it, and the window says so.
class WizardParaWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WizardParaWidget(QWidget* parent);
    ~WizardParaWidget() override;

    // Reads the pages into the edit copy and commits it (message 234).
    void accept();
    void reject();
    // Hides the shown controls and shows them again (closed pages stay closed).
    void DoChangePage();
    void ResetReCheck1Text(const QString& text);
    QString reCheck1Text() const { return m_reCheck1Text; }
    // Refills the parameter-group chooser from ./paraGroup, current first.
    void ParaGroupUpdateList();

    FuzzyComboBox* groupCombo = nullptr;
    ColorButton* okButton = nullptr;
    ColorButton* cancelButton = nullptr;
    ColorButton* ioButton = nullptr;
    ColorButton* namesButton = nullptr;
    ColorButton* recordsButton = nullptr;
    ColorButton* exportButton = nullptr;
    ColorButton* imageButton = nullptr;
    ColorButton* shutDownButton = nullptr;
    ColorButton* exitButton = nullptr;
    QLabel* notInBuild = nullptr;

    // What the main window installs: the camera and engine updates of a
    // commit, and the pages this window opens.
    std::function<void()> applyCameras;
    std::function<void()> retrain;
    std::function<void()> showIOPage;
    std::function<void()> showCustomNames;
    std::function<void()> showRecords;
    std::function<void()> exportData;
    std::function<void(int kind)> endStation; // StationExit kinds
    // After a commit: the USB image writer takes the days and is started or
    // stopped when "use disk" changed (its value before the commit given).
    std::function<void(int useBefore)> imageSettingsCommitted;

signals:
    void sigExportDataStart();
    void sigExportDataFinish();

public slots:
    void SlotShowIOWidget();
    void SlotShowCustomIONameWidget();
    void SlotExportData();
    void SlotShutDown();
    void SlotExit();
    void SlotParaGroupChange(int index);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_reCheck1Text;
};
