#pragma once
#include <QVector>
#include <QWidget>
#include <functional>

class CammerWidget;
class CheckBox;
class ChooseCaliNumWidget;
class ColorButton;
class ComboBox;
class Edit;
class EditBox;
class FuzzyComboBox;
class ModifyTimeWidget;

// The settings window: a full-screen child of the main window, hidden until
// the side bar opens it. It edits the copy gpWParaBak; OK commits the copy
// into the live set, Cancel throws it away. While it is visible the main
// window's own slots do nothing and the camera controls read the copy, so a
// camera setting shows in the live picture while it is tuned.
//
// Five pages: common (parameter groups, re-check, records, export, image
// saving), camera (one camera's picture settings), advanced (I/O page,
// names, camera numbering, hardware; factory login), passwords and system
// (network, language, clock, factory reset, shut-down, exit).
class WizardParaWidget : public QWidget
{
    Q_OBJECT
public:
    enum Page { CommonPage, CameraPage, AdvancedPage, PasswordPage, SystemPage, PageCount };

    explicit WizardParaWidget(QWidget* parent);
    ~WizardParaWidget() override;

    // Reads the pages into the edit copy and commits it (message 234).
    void accept();
    void reject();
    // Hides every control, then shows those of the current page.
    void DoChangePage();
    void setPage(int page);
    int page() const { return m_page; }
    void ResetReCheck1Text(const QString& text);
    QString reCheck1Text() const { return m_reCheck1Text; }
    // Refills the parameter-group chooser from ./paraGroup, current selected.
    void ParaGroupUpdateList();
    // The pages' controls show the edit copy.
    void loadPages();

    // --- frame ---
    ColorButton* tabs[PageCount] = {};
    ColorButton* okButton = nullptr;
    ColorButton* cancelButton = nullptr;
    // --- common page ---
    FuzzyComboBox* groupCombo = nullptr;
    Edit* groupSearch = nullptr;
    Edit* groupName = nullptr;
    ColorButton* backupButton = nullptr;
    ColorButton* restoreButton = nullptr;
    ColorButton* deleteButton = nullptr;
    EditBox* reCheckBox = nullptr;
    EditBox* delayBox[2] = {}; // trigger delays of detections 1 and 2, in 0.1 s
    CheckBox* statisticsBox = nullptr;
    // NG and OK result images kept per folder (0: none kept).
    EditBox* ngRecBox = nullptr;
    EditBox* okRecBox = nullptr;
    ColorButton* recordsButton = nullptr;
    ColorButton* exportButton = nullptr;
    ColorButton* imageButton = nullptr;
    // --- camera page ---
    ComboBox* cameraChooser = nullptr;
    EditBox* exposureBox = nullptr;
    EditBox* gainBox = nullptr;
    EditBox* sharpBox = nullptr;
    EditBox* contrastBox = nullptr;
    EditBox* gammaBox = nullptr;
    EditBox* saturationBox = nullptr;
    EditBox* noise3DBox = nullptr;
    EditBox* noise2DBox = nullptr;
    CheckBox* wdrBox = nullptr;
    CheckBox* hMirrorBox = nullptr;
    CheckBox* vMirrorBox = nullptr;
    CheckBox* triggerBox = nullptr;
    EditBox* speedBox = nullptr;
    ColorButton* whiteBalanceButton = nullptr;
    ColorButton* defaultsButton = nullptr;
    // --- advanced page ---
    ColorButton* ioButton = nullptr;
    ColorButton* namesButton = nullptr;
    ColorButton* numberingButton = nullptr;
    ColorButton* hardwareButton = nullptr;
    // --- password page ---
    CheckBox* pswUsedBox = nullptr;
    Edit* pwdNew[3] = {};
    Edit* pwdAgain[3] = {};
    ColorButton* pwdButton[3] = {};
    // --- system page ---
    ColorButton* networkButton = nullptr;
    ComboBox* languageChooser = nullptr;
    ColorButton* languageButton = nullptr;
    ColorButton* timeButton = nullptr;
    ColorButton* factoryButton = nullptr;
    ColorButton* updateButton = nullptr;
    ColorButton* shutDownButton = nullptr;
    ColorButton* exitButton = nullptr;
    ModifyTimeWidget* timeDialog = nullptr;
    ChooseCaliNumWidget* caliChooser = nullptr;

    // What the main window installs: the camera and engine updates of a
    // commit, and the pages this window opens.
    std::function<void()> applyCameras;
    std::function<void()> retrain;
    std::function<void()> showIOPage;
    std::function<void()> showCustomNames;
    std::function<void()> showRecords;
    std::function<void()> exportData;
    // The ordered end of the run (StationExit kinds). afterClose, when set,
    // runs once the databases are closed, before the system command;
    // beforeSave once the end has begun, before the set is saved.
    std::function<void(int kind)> endStation;
    std::function<void()> afterClose;
    std::function<void()> beforeSave;
    // After a commit: the USB image writer takes the days and is started or
    // stopped when "use disk" changed (its value before the commit given).
    std::function<void(int useBefore)> imageSettingsCommitted;

signals:
    void sigExportDataStart();
    void sigExportDataFinish();

public slots:
    void SlotShowIOWidget();
    void SlotShowCustomIONameWidget();
    void SlotChangeCamera();
    void SlotHardware();
    void SlotExportData();
    void SlotShutDown();
    void SlotExit();
    void SlotChangeLan();
    void SlotModifyTime();
    void SlotToNetwork();
    // Copies a version chosen on the drive as the update package and restarts.
    void SlotSoftwareUpdate();
    void SlotFactoryReset();
    void SlotParaGroupChange(int index);
    void SlotParaGroupBackup();
    void SlotParaGroupRestore();
    void SlotParaGroupDelete();
    void SlotGroupSearch(const QString& text);
    void ChangePwd();
    void ChangeNotCheckPwd();
    void ChangeAlarmPwd();

protected:
    void paintEvent(QPaintEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void buildCommonPage();
    void buildCameraPage();
    void buildAdvancedPage();
    void buildPasswordPage();
    void buildSystemPage();
    ColorButton* pageButton(int page, const QString& caption, int style, const QRect& r);
    void addToPage(int page, QWidget* w);
    // Gives an editor's caption the page's wider place; a name still too long
    // shrinks rather than being cut.
    static void widenCaption(EditBox* box);
    // The camera page: the view being tuned, its values into the editors,
    // and one setter after an editor changed.
    CammerWidget* tunedView() const;
    void loadCameraPage();
    void cameraValueChanged(int which, int value);
    // Passwords: the two fields agree and are not empty (else a message).
    bool readNewPassword(int which, QString* out);
    // Restores group `index` into the working directory and restarts.
    void restoreGroup(int index);
    QString groupAt(int index) const;

    QVector<QWidget*> m_pages[PageCount];
    int m_page = CommonPage;
    int m_tunedCamera = 0;
    bool m_loading = false;
    QString m_reCheck1Text;
};
