#pragma once
#include <QWidget>

class QTextBrowser;
class QPushButton;

// Read-only text panel (the ping output of the network settings) with a close
// button in its top-right corner.
class TextShowWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TextShowWidget(QWidget* parent = nullptr);

    QTextBrowser* textView() const { return m_text; }
    QPushButton* closeButton() const { return m_close; }

signals:
    void sigHideWidget();

private:
    QTextBrowser* m_text = nullptr;
    QPushButton* m_close = nullptr;
};
