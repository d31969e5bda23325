#pragma once
#include <QWidget>

class QButtonGroup;
class ColorButton;

// The letters on-screen keyboard (gpNumCharPad): digits, lower and upper case
// letters and a punctuation page. Keys append to the end of the current
// field's text. Every showing starts on the lower-case letters.
class NumCharInput : public QWidget
{
    Q_OBJECT
public:
    explicit NumCharInput(QWidget* parent);
    ~NumCharInput() override;

    // Keys by index: 0..10 row one, 11..20 row two, 21..29 row three,
    // 30..36 row four, 37 page, 38 case, 39 erase, 40 OK.
    ColorButton* key(int index) const { return m_keys[index]; }
    static constexpr int kKeyCount = 41;
    enum { PageKey = 37, CaseKey = 38, EraseKey = 39, OkKey = 40 };

    // Makes the shared keyboard without a parent and stores it in
    // gpNumCharPad; a destroyed keyboard is replaced the same way.
    static NumCharInput* createShared();

public slots:
    void SlotChgChar_Punc();
    void setContent(int id);
    void eraseContent();
    void HideUpdate();
    void SlotCap();

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void fitFunctionKeys();
    void setRows(const QStringList& row2, const QStringList& row3, const QStringList& row4);
    // The letters page in lower or upper case.
    void setLetters(bool upper);

    QButtonGroup* m_group;
    ColorButton* m_keys[kKeyCount];
    bool m_punctuation = false; // the punctuation page is showing
    bool m_upper = false;       // letters are upper case
};
