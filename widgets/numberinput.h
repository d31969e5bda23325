#pragma once
#include <QVector>
#include <QWidget>

class QButtonGroup;
class ColorButton;

// The numeric on-screen pad (gpNumPad). It types into the current field
// (Edit::current()) through the field's addValue()/deleteValue(), so a value
// box builds its number rather than its text. On a password field the digit
// keys are shuffled every time the pad shows, and OK asks the login box to
// judge the entry.
class NumberInput : public QWidget
{
    Q_OBJECT
public:
    explicit NumberInput(QWidget* parent);
    ~NumberInput() override;

    ColorButton* digitKey(int id) const { return m_keys[id]; }
    ColorButton* okKey() const { return m_ok; }
    ColorButton* delKey() const { return m_del; }
    bool isFresh() const { return m_fresh; }

    // The ten digits 0..9, each once, in random order.
    static QVector<int> genRandomNumber();

    // Makes the shared pad without a parent and stores it in gpNumPad. The
    // pad is wired to the login box and, when it is destroyed (for instance
    // with a password box it was lent to), a new one takes its place, wired
    // the same way, so the login keeps working.
    static NumberInput* createShared();

signals:
    void chkpassword();

public slots:
    void setContent(int id);
    void eraseContent();
    void eraseAll();
    void HideUpdate();

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    QButtonGroup* m_group;
    ColorButton* m_keys[10];
    ColorButton* m_ok;
    ColorButton* m_del;
    bool m_fresh = true;
};
