#pragma once
#include <QComboBox>

// Editable combo box whose text is selected whole on focus, so a touch
// followed by typing replaces it.
class CComp_EditComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit CComp_EditComboBox(QWidget* parent = nullptr);
    bool eventFilter(QObject* watched, QEvent* e) override;

signals:
    void click();

protected:
    void resizeEvent(QResizeEvent* e) override;
};
