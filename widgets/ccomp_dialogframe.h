#pragma once
#include <QDialog>

class QLabel;
class QHBoxLayout;
class QPushButton;
class QLineEdit;
class QComboBox;
class QStyledItemDelegate;

// Grey framed dialog of the network settings: a 60-pixel title bar with the
// title, optional widgets and a green OK button, and an empty body that the
// subclasses fill. It cannot be dragged.
class CComp_DialogFrame : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_DialogFrame(const QString& title, QWidget* parent = nullptr);

    void setTitleText(const QString& text);
    QString titleText() const;
    // Adds w to the title bar, between the stretch and OK, after earlier ones.
    void addTitleWgt(QWidget* w);

    QWidget* body() const { return m_body; }
    QPushButton* okButton() const { return m_ok; }
    QHBoxLayout* titleLayout() const { return m_titleLayout; }

    static void setStylePushButton(QPushButton* b, const QString& colour, int fontPx, const QString& extra = QString());
    static void setStyleLineEdit(QLineEdit* e, const QString& extra = QString());
    static void setStyleCombobox(QComboBox* c, QStyledItemDelegate* d, const QString& extra = QString());
    static void setDefaultWgt(QWidget* w, const QString& extra = QString());

public slots:
    virtual void acceptDialog();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    QLabel* m_title = nullptr;
    QWidget* m_body = nullptr;
    QHBoxLayout* m_titleLayout = nullptr;
    QPushButton* m_ok = nullptr;
};
