#pragma once
#include <QWidget>

class ColorButton;
class QLabel;

// What the panel is: processor, screen switching, board port, cameras and
// the device identity, read when the page shows.
class HardwareConfigurationWidget : public QWidget
{
public:
    explicit HardwareConfigurationWidget(QWidget* parent);
    ~HardwareConfigurationWidget() override;

    QString description() const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    QLabel* m_text;
    ColorButton* m_close;
};
