#pragma once
#include <QStringList>
#include <QTabWidget>

class CameraStatisticsWidget;

// The detection tabs of one camera tab on the statistics page: first all
// detections (index 8), then each detection, captioned from the names list.
class CamereaTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    CamereaTabWidget(int camera, QStringList names, QWidget* parent = nullptr);

    // Refreshes the panel of the current tab.
    void updateData();
    CameraStatisticsWidget* panel(int tab) const { return tab >= 0 && tab < 9 ? m_panels[tab] : nullptr; }
    int camera() const { return m_camera; }

private:
    CameraStatisticsWidget* m_panels[9] = {};
    int m_camera;
};
