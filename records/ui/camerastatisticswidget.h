#pragma once
#include <QWidget>

class Histogram;
class QLabel;

// The figures of one (camera, detection) pair on the statistics page: the
// inspections, OK count and pass rate of the day shift, the night shift and
// the whole day, and the hourly bars of both shifts. Index 8 stands for all
// cameras or all detections.
class CameraStatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    CameraStatisticsWidget(int camera, int detect, QWidget* parent = nullptr);

    // Refills the values and both charts from the statistics model.
    void updateData();

    int camera() const { return m_camera; }
    int detect() const { return m_detect; }
    Histogram* dayHistogram() const { return m_day; }
    Histogram* nightHistogram() const { return m_night; }
    // Value label k: inspections, OK, pass rate of day shift, night shift,
    // whole day, in that order.
    QLabel* value(int k) const { return m_values[k]; }

    // A size of the 1920 x 1080 layout on this screen.
    static int scaled(int px);
    // Pass rate text of ok of total; a shift without inspections shows "--".
    static QString passRate(int ok, int total);

protected:
    void showEvent(QShowEvent* e) override;

private:
    Histogram* m_day = nullptr;
    Histogram* m_night = nullptr;
    QLabel* m_values[9] = {};
    int m_detect;
    int m_camera;
};
