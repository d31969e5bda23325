#pragma once
#include <QDialog>
#include <QJsonObject>

class CheckBox;
class ColorButton;
class Edit;
class QLabel;
class WizardPara;

// The small dialog of the USB image copy: day folders kept on the drive,
// whether images are copied at all, whether losing the drive warns. It
// trades the values with its caller as a JSON object with the keys "days",
// "useDiskSaveImage" and "lostUpanAlarm".
class SaveImageSettingDailog : public QDialog
{
    Q_OBJECT
public:
    explicit SaveImageSettingDailog(QWidget* parent = nullptr);

    // Sets the controls of the keys present; absent keys leave theirs.
    void init(const QJsonObject& obj);
    // Writes all three keys; "days" is -1 when the text is not a number.
    void save(QJsonObject& obj) const;
    void setDays(int days);
    int getDays(bool* ok) const;

    // The settings window's round trip on its edit copy: the object of the
    // three settings, and the copy back after Confirm ("days" only when it
    // is a number).
    static QJsonObject objectOf(const WizardPara& para);
    static void copyBack(const QJsonObject& obj, WizardPara* para);
    // Shows the dialog modally on the edit copy; true when confirmed.
    static bool editSettings(QWidget* parent, WizardPara* para);

    Edit* daysEdit() const { return m_days; }
    CheckBox* useBox() const { return m_use; }
    CheckBox* lostBox() const { return m_lost; }
    ColorButton* confirmButton() const { return m_confirm; }
    ColorButton* cancelButton() const { return m_cancel; }

private:
    Edit* m_days;
    CheckBox* m_lost;
    CheckBox* m_use;
    QLabel* m_label;
    ColorButton* m_confirm;
    ColorButton* m_cancel;
};
