#pragma once
#include "widgets/boxpaint.h"

#include <QDialog>
#include <QString>

class ColorButton;

// The house question box: the question over the background picture with YES
// and NO. exec() returns QDialog::Accepted (1) for YES and Rejected (0) for NO;
// callers act only on 1.
class ChooseBox : public QDialog
{
public:
    ChooseBox(QWidget* parent, int w, int h);
    ~ChooseBox() override;

    void setText(const QString& text);
    QString text() const { return m_text; }
    ColorButton* yesButton() const { return m_yes; }
    ColorButton* noButton() const { return m_no; }

    // Where the question is drawn, in box coordinates: broken into lines of
    // this width, and at a smaller size when they are more than it holds.
    QRect textRect() const;
    static constexpr int kTextMargin = 20;

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    ColorButton* m_yes;
    ColorButton* m_no;
    QString m_text;
    boxpaint::AskingWindow m_asker;
    int m_w;
    int m_h;
};
