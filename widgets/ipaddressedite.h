#pragma once
#include <QWidget>

class QLineEdit;

// Four-field IPv4 address editor; "." moves to the next field.
class IPAddressEdite : public QWidget
{
    Q_OBJECT
public:
    explicit IPAddressEdite(QWidget* parent = nullptr);

    QString getAddress() const;
    void setAddress(const QString& a);
    void setReadOnly(bool ro);

    QLineEdit* field(int i) const { return (i >= 0 && i < 4) ? m_fields[i] : nullptr; }

    bool eventFilter(QObject* watched, QEvent* e) override;

signals:
    void sigChangeStr(QString text);

private:
    QLineEdit* m_fields[4] = {};
};
