#pragma once
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class CamereaTabWidget;
class ColorButton;
class ComboBox;
class ExportResultWorker;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QThread;
class ResStatisticsParam;
class WarnBox;

// The statistics page: the figures of any stored day and group per camera
// and detection, the shift hours and the statistics export. One instance,
// a window of its own sized to the screen, hidden until the side bar shows
// it. The main window calls createWidget() with the detection captions and
// connectModel() with the statistics model, and takes sigExportProgress and
// sigExportDataFinish for its export label.
class StatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    static StatisticsWidget* instance;
    static StatisticsWidget* getInstance();

    explicit StatisticsWidget(QWidget* parent = nullptr);
    ~StatisticsWidget() override;

    // names: the all-detections caption, then one caption per detection.
    void createWidget(QStringList names);
    // The page's connections with the model (day loaded, result counted, day
    // archived, day chosen).
    void connectModel(ResStatisticsParam* model);

    void initWidget();
    void updateList();
    void updateGroupsList(bool block);
    void checkUpdate();

    bool exportIdle() const { return m_exportIdle; }
    ExportResultWorker* exportWorker() const { return m_worker; }
    QTabWidget* cameraTabs() const { return m_cameraTabs; }
    CamereaTabWidget* cameraTab(int i) const { return i >= 0 && i < 9 ? m_cameras[i] : nullptr; }
    QListWidget* dayList() const { return m_days; }
    ComboBox* groupList() const { return m_groups; }
    // 0 day-shift start, 1 day-shift end, 2 night-shift start, 3 night-shift end.
    ComboBox* hourList(int i) const { return m_hours[i]; }
    ColorButton* returnButton() const { return m_return; }
    ColorButton* exportButton() const { return m_export; }

signals:
    void sigUpdateRecord(int row, QString path);
    void sigExportData(QPair<QString, QString> dates);
    void sigExportDataFinish();
    void sigExportProgress(int total, int done);

public slots:
    void slotUpdateRecord(bool ok);

private slots:
    void SlotConfirm();
    void UpdateRecord(QListWidgetItem* item);
    void SlotExportData();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void refreshCurrent();
    void exportFinished();
    void tellExportResult();

    ExportResultWorker* m_worker = nullptr;
    bool m_exportIdle = true;
    bool m_exportFailed = false;
    bool m_exportEmpty = false; // the range held no day of statistics
    QStringList m_unreadDays; // days the last export could not read
    // The export's start notice while it shows, and the end of an export
    // that came before the operator confirmed that notice.
    QPointer<WarnBox> m_startNote;
    int m_resultMsg = 0;
    QString m_resultText;
    QThread* m_thread = nullptr;
    QTabWidget* m_cameraTabs = nullptr;
    CamereaTabWidget* m_cameras[9] = {};
    ComboBox* m_groups = nullptr;
    ComboBox* m_hours[4] = {};
    QListWidget* m_days = nullptr;
    ColorButton* m_return = nullptr;
    ColorButton* m_export = nullptr;
};
