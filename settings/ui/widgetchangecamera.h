#pragma once
#include <QVector>
#include <QWidget>

class ColorButton;
class ComboBox;

// Renumbers the cameras: one chooser per camera found, holding its new
// number. OK stores the order (it takes effect at the next start); two
// cameras may not take one number.
class WidgetChangeCamera : public QWidget
{
public:
    explicit WidgetChangeCamera(QWidget* parent);
    ~WidgetChangeCamera() override;

    // Rebuilds the choosers from the cameras found, each at its own number.
    void reload();
    // The chosen order, or empty when two cameras share a number.
    QVector<int> chosenOrder() const;
    // Stores the chosen order; false (and a message) when it is not a
    // permutation.
    bool accept();

    QVector<ComboBox*> choosers;
    ColorButton* okButton = nullptr;
    ColorButton* cancelButton = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;
};
