#pragma once
#include <QLineEdit>
#include <QPoint>
#include <QString>

// The one line edit of every screen. The panel has no keyboard: touching the
// field opens one of the two shared on-screen pads next to it, inside the
// window that hosts it, and the pad types into the field through addValue()
// and deleteValue().
//
// keypadFlags: 0x2 letters keyboard (else the numeric pad); 0x8 host the pad
// in the grandparent, 0x10 in the great-grandparent, 0x20 in the network
// settings dialog, none of these in the parent.
class Edit : public QLineEdit
{
    Q_OBJECT
public:
    Edit(int keypadFlags, QWidget* parent, int type);
    ~Edit() override;

    int value() const;
    double valueToDouble() const;
    void setValue(int v);
    void setValue(double v);

    // Stores the clamping range; -1 in either bound means no range. The text is
    // clamped from the next change on.
    void setRange(int min, int max);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    void init() { clear(); }

    int keypadFlags() const { return m_keypadFlags; }

    // Where the pad of this field goes: the host window and the pad's
    // top-left corner in the host.
    struct PadPlace {
        QWidget* host = nullptr;
        QPoint pos;
    };
    PadPlace padPlace(const QWidget* pad) const;

    // The field the pads type into: the main window's currentEdit. Without a
    // main state (gpWin) there is none; tests make a MainState.
    static Edit* current();
    static void setCurrent(Edit* e);

public slots:
    virtual void addValue(QString key, bool fresh);
    virtual void deleteValue(bool& fresh);
    void SlotRange(QString text);

signals:
    void focusOut();
    void sig_Dot();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void openPad();

    int m_keypadFlags;
    int m_min = -1;
    int m_max = -1;
};
