#pragma once
#include <QWidget>

class ColorButton;
class QLabel;

// The help viewer: shows help page gHelpC (./help/help<N>.png, or .txt) over
// the whole screen until closed.
class HelpWidget : public QWidget
{
public:
    explicit HelpWidget(QWidget* parent);
    ~HelpWidget() override;

    // Loads page gHelpC; false when the page is missing (the window says so).
    bool loadPage();
    QLabel* page() const { return m_page; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    QLabel* m_page;
    ColorButton* m_close;
};
