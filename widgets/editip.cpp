#include "widgets/editip.h"
#include "widgets/boxpaint.h"
#include "widgets/edit.h"

#include <QHBoxLayout>
#include <QLabel>

EditIP::EditIP(const QString& caption, int mode, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(80);
    const QFont font = boxpaint::houseFont(30, QStringLiteral("wenquanyi"));
    setFont(font);

    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_caption = new QLabel(caption, this);
    m_caption->setFixedWidth(160);
    m_caption->setFont(font);
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_row->addWidget(m_caption, 10);

    const int flags = mode == 1 ? 33 : 9;
    for (int i = 0; i < 4; ++i) {
        m_octets[i] = new Edit(flags, nullptr, 1);
        m_octets[i]->setFixedSize(80, 50);
        m_octets[i]->setFont(font);
        // centred like every other value field of the house
        m_octets[i]->setAlignment(Qt::AlignCenter);
        m_octets[i]->setRange(0, 255);
        m_row->addWidget(m_octets[i], 5);
        connect(m_octets[i], &QLineEdit::textChanged, this, [this]() { emit textchange(getAddress()); });
        if (i < 3) {
            m_dots[i] = new QLabel(QStringLiteral("."), this);
            m_dots[i]->setFont(font);
            m_dots[i]->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            m_row->addWidget(m_dots[i]);
        }
    }
    connect(m_octets[0], &Edit::sig_Dot, this, &EditIP::SlotPressDot_0);
    connect(m_octets[1], &Edit::sig_Dot, this, &EditIP::SlotPressDot_1);
    connect(m_octets[2], &Edit::sig_Dot, this, &EditIP::SlotPressDot_2);
    setTitleColor(m_titleColor);
}

void EditIP::jumpTo(int octet)
{
    m_octets[octet]->setText(QStringLiteral("0"));
    m_octets[octet]->setFocus(Qt::OtherFocusReason);
}

void EditIP::SlotPressDot_0()
{
    jumpTo(1);
}

void EditIP::SlotPressDot_1()
{
    jumpTo(2);
}

void EditIP::SlotPressDot_2()
{
    jumpTo(3);
}

QString EditIP::getAddress()
{
    QStringList parts;
    for (Edit* e : m_octets) {
        QString t = e->text();
        t.remove(QLatin1Char('.'));
        bool ok = false;
        t.toUInt(&ok, 10);
        const bool digitsOnly = !t.isEmpty() && std::all_of(t.begin(), t.end(), [](QChar c) { return c.isDigit(); });
        parts << ((ok && digitsOnly) ? t : QStringLiteral("0"));
    }
    m_lastAddress = parts.join(QLatin1Char('.'));
    return m_lastAddress;
}

void EditIP::setAddress(const QString& s)
{
    int octet = 0;
    QString part;
    for (QChar c : s) {
        if (c == QLatin1Char('.')) {
            if (!part.isEmpty())
                m_octets[octet]->setText(part);
            part.clear();
            if (octet < 3)
                ++octet;
        } else {
            part += c;
        }
    }
    if (!part.isEmpty())
        m_octets[octet]->setText(part);
}

void EditIP::setTitleColor(const QColor& c)
{
    m_titleColor = c;
    boxpaint::setTextColour(m_caption, c);
    for (QLabel* d : m_dots)
        boxpaint::setTextColour(d, c);
}

void EditIP::setGeometry(int x, int y, int w, int h)
{
    m_row->setGeometry(QRect(x, y, w, h));
    QWidget::setGeometry(x, y, w, h);
}
