#pragma once
#include <QComboBox>

class QListView;

// The drop-down list of every screen. It never takes keyboard focus (there is
// no keyboard on the panel) and reports every touch with clicked(), while the
// touch still opens the popup as usual.
class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Replaces the whole style sheet: a later setStyleSheet() loses the height.
    void setItemHeight(int h);
    void setItemWidth(int w);

    QListView* listView() const { return m_view; }

signals:
    void clicked();

protected:
    void changeEvent(QEvent* e) override;

    QListView* m_view = nullptr;
};
