#pragma once
#include <QAbstractSlider>
#include <QRect>

class ColorButton;
class Edit;

// The house slider of the camera view's parameter panel: caption, value box
// (touch opens the numeric pad), "- 1", a painted track with a handle, "+ 1".
// The caption is the object name. Range, value and page step are those of
// QAbstractSlider; users connect to valueChanged(int).
class Slider : public QAbstractSlider
{
    Q_OBJECT
public:
    Slider(int min, int max, int step, int value, QWidget* parent, const QString& caption);

    void Reset(int min, int max, int step, int value, const QString& caption);

    // Geometry of the painted parts, in slider coordinates.
    int trackWidth() const { return m_trackWidth; }
    int fillOffset() const { return m_fillOffset; }
    int fillLength() const { return m_fillLength; }
    int fillWidth() const; // the filled part for the current value
    QRect handleRect() const;
    // Text size of the caption: 30 px, smaller when the caption would not
    // fit its 120-pixel band.
    int captionPixelSize() const;

    ColorButton* addButton() const { return m_add; }
    ColorButton* subButton() const { return m_sub; }
    Edit* valueField() const { return m_field; }
    bool dragging() const { return m_anchorX >= 1; }

    static constexpr int kTrackX = 315;   // left end of the track
    static constexpr int kBoxX = 135;     // value box: x 135..234
    static constexpr int kBoxTouchEnd = 214;

public slots:
    void Add();
    void Sub();
    void SetText(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void layoutParts();
    void openKeypad();

    ColorButton* m_add = nullptr;
    ColorButton* m_sub = nullptr;
    Edit* m_field = nullptr;
    int m_trackWidth = 0;
    int m_fillOffset = 0;
    int m_fillLength = 0;
    QRect m_handle;
    int m_anchorX = -1;
    int m_anchorY = -1;
};
