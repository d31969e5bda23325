#pragma once
#include <QColor>
#include <QString>
#include <QWidget>

class Edit;
class QHBoxLayout;
class QLabel;

// An IPv4 address as four octet fields (0..255). Mode 0 hosts the pad in the
// editor's own parent window, mode 1 in the network settings dialog.
class EditIP : public QWidget
{
    Q_OBJECT
public:
    EditIP(const QString& caption, int mode, QWidget* parent);

    QString getAddress();
    void setAddress(const QString& s);
    void setTitleColor(const QColor& c);
    void setGeometry(int x, int y, int w, int h);

    Edit* octet(int i) const { return m_octets[i]; }
    QString lastAddress() const { return m_lastAddress; }

signals:
    void textchange(QString curtext);

public slots:
    void SlotPressDot_0();
    void SlotPressDot_1();
    void SlotPressDot_2();

private:
    void jumpTo(int octet);

    QLabel* m_caption;
    QLabel* m_dots[3];
    Edit* m_octets[4];
    QHBoxLayout* m_row;
    QColor m_titleColor = Qt::yellow;
    QString m_lastAddress;
};
