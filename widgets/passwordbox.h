#pragma once
#include <QDateTime>
#include "widgets/boxpaint.h"

#include <QDialog>

class ColorButton;
class Edit;

// The shared login box (gpPasswordBox). A correct entry sets the main
// window's login level: 2 for the factory password, 1 for the operator
// password; a wrong one logs the current user out and waits for another try.
// Digits come from the shared numeric pad, which shuffles its keys for the
// password field; the pad's OK (or a touch on the box) submits.
class PasswordBox : public QDialog
{
    Q_OBJECT
public:
    explicit PasswordBox(QWidget* parent);
    ~PasswordBox() override;

    Edit* field() const { return m_field; }
    ColorButton* okButton() const { return m_ok; }
    ColorButton* cancelButton() const { return m_cancel; }
    int wrongFlag() const { return m_wrong; }

    // The factory password for the given switch and time: the 4-digit code
    // alone when the password function is off, else followed by the local
    // month, day and hour (MMddHH).
    static QString factoryPassword(bool pswUsed, const QDateTime& now);

    // Local time as the login reads it: the station clock (frame/clock.h).
    static QDateTime now();

    // The login level of the main window (0 nobody, 1 operator, 2 factory);
    // 0 and unchangeable without one.
    static int loginLevel();
    static void setLoginLevel(int level);

public slots:
    void accept() override;
    void SlotTextChanged(QString text);

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

    // Shared steps of the boxes: a miss clears the field and shows the
    // "wrong" hint; a hit resets the hint.
    void markWrong();
    void markRight();
    // The pad is lent to this box while it types into the field; give it
    // back before the box goes away, so it never dies with a box on the stack.
    void releasePad();
    // The one-shot gates: the entry against their stored password (none
    // known: every entry is wrong). A hit hands the pad back and closes the
    // box; a miss keeps it open. Returns the gate's result, 1 or 0.
    int judgeGate(const QString* stored);
    // The login entry: 2 for the factory password, 1 for the operator's, 0
    // for a miss. A hit closes the box, a miss marks it wrong.
    int judgeLogin(bool pswUsed);

    ColorButton* m_ok;
    ColorButton* m_cancel;
    Edit* m_field;
    int m_wrong = 0;
    boxpaint::AskingWindow m_asker;
};
