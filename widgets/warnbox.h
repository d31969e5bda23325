#pragma once
#include "widgets/boxpaint.h"

#include <QDialog>
#include <QString>

class ColorButton;

// The house message box: a red message over the background picture and one
// Confirm button. exec() for a blocking notice, show() for warnings the cycle
// raises without waiting.
class WarnBox : public QDialog
{
public:
    explicit WarnBox(QWidget* parent);
    ~WarnBox() override;

    void setText(const QString& text);
    QString text() const { return m_text; }
    ColorButton* okButton() const { return m_ok; }

    // Where the text is drawn, in box coordinates: broken into lines of
    // this width, and at a smaller size when they are more than it holds.
    QRect textRect() const;
    static constexpr int kTextMargin = 20;

    // Switches a dark screen on (and restarts its off timer): a warning
    // that nobody can see is no warning.
    static void wakeScreen();

protected:
    // The button's caption, by message number: taken in the language in
    // force each time the box shows.
    void setButtonMessage(int msg);

    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    ColorButton* m_ok;
    int m_okMsg = 121;
    QString m_text;
    boxpaint::AskingWindow m_asker;
};
