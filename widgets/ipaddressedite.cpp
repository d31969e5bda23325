#include "widgets/ipaddressedite.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

IPAddressEdite::IPAddressEdite(QWidget* parent)
    : QWidget(parent)
{
    installEventFilter(this);
    auto* validator = new QIntValidator(0, 255, this);
    auto* lay = new QHBoxLayout(this);
    lay->setSpacing(0);
    lay->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 4; ++i) {
        m_fields[i] = new QLineEdit(this);
        m_fields[i]->setAlignment(Qt::AlignCenter);
        m_fields[i]->setMaxLength(3);
        m_fields[i]->setValidator(validator);
        m_fields[i]->installEventFilter(this);
        connect(m_fields[i], &QLineEdit::textChanged, this, [this]() { emit sigChangeStr(getAddress()); });
        if (i > 0) {
            auto* dot = new QLabel(".", this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setFixedWidth(20);
            dot->setStyleSheet("color:white;font-size:38px;");
            lay->addWidget(dot);
        }
        lay->addWidget(m_fields[i]);
    }
}

QString IPAddressEdite::getAddress() const
{
    // An empty field counts as 0 in its own place: "1" then three empty
    // fields is 1.0.0.0, not a run of dots patched into 10.0.0.0.
    QStringList parts;
    for (QLineEdit* f : m_fields)
        parts << (f->text().isEmpty() ? QStringLiteral("0") : f->text());
    return parts.join('.');
}

void IPAddressEdite::setAddress(const QString& a)
{
    QStringList parts = a.split('.', Qt::SkipEmptyParts);
    if (parts.size() != 4)
        parts = QStringList{"0", "0", "0", "0"};
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(parts[i]);
}

void IPAddressEdite::setReadOnly(bool ro)
{
    for (QLineEdit* f : m_fields)
        f->setReadOnly(ro);
}

bool IPAddressEdite::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Period) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QString());
        QApplication::sendEvent(this, &tab);
    }
    return QWidget::eventFilter(watched, e);
}
