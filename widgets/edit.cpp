#include "widgets/edit.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/c_type_com.h"
#include "widgets/networksettingdialog.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>

// The main window's state keeps the field; without one there is none.
Edit* Edit::current()
{
    return gpWin ? gpWin->currentEdit : nullptr;
}

void Edit::setCurrent(Edit* e)
{
    if (gpWin)
        gpWin->currentEdit = e;
}

Edit::Edit(int keypadFlags, QWidget* parent, int type)
    : QLineEdit(parent)
    , m_keypadFlags(keypadFlags)
{
    if (type == 1)
        C_Type_COM::setTxtQss(this, C_Type_COM::C_Blue);
    connect(this, &QLineEdit::textChanged, this, &Edit::SlotRange);
}

Edit::~Edit()
{
    // The pads must never type into a field that is gone.
    if (current() == this)
        setCurrent(nullptr);
}

int Edit::value() const
{
    bool ok = false;
    const int v = text().toInt(&ok, 10);
    return ok ? v : 0;
}

double Edit::valueToDouble() const
{
    return text().toDouble();
}

void Edit::setValue(int v)
{
    setText(QString::number(v));
}

void Edit::setValue(double v)
{
    setText(QString::number(v, 'g', 6));
}

void Edit::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
}

void Edit::addValue(QString key, bool fresh)
{
    const QByteArray k = key.toLatin1();
    if (k.isEmpty())
        return;
    const QChar c = QLatin1Char(k.at(0));
    setText(fresh ? QString(c) : text() + c);
    setCursorPosition(text().size());
}

void Edit::deleteValue(bool& fresh)
{
    QString t = text();
    if (!t.isEmpty())
        t.chop(1);
    setText(t);
    if (t.isEmpty())
        fresh = true;
    setCursorPosition(t.size());
}

void Edit::SlotRange(QString text)
{
    if (m_min == -1 || m_max == -1)
        return;
    if (m_min > m_max)
        std::swap(m_min, m_max);
    bool ok = false;
    qint64 v = text.toInt(&ok, 10);
    if (!ok) {
        // A run of digits too long for an int is still a number, and far out
        // of any range: clamp it rather than let it through unchecked.
        static const QRegularExpression digits(QStringLiteral("^\\s*([+-]?)\\d+\\s*$"));
        const QRegularExpressionMatch m = digits.match(text);
        if (!m.hasMatch())
            return;
        v = m.captured(1) == QLatin1String("-") ? qint64(m_min) - 1 : qint64(m_max) + 1;
    }
    const QString clamped = QString::number(qBound<qint64>(m_min, v, m_max));
    if (clamped != text)
        setText(clamped);
}

bool Edit::event(QEvent* e)
{
    // A missing shared pad is made on the next event of any field; this touch
    // only creates it.
    if (!gpNumPad || !gpNumCharPad) {
        if (!gpNumPad)
            NumberInput::createShared();
        if (!gpNumCharPad)
            NumCharInput::createShared();
        return QLineEdit::event(e);
    }

    switch (e->type()) {
    case QEvent::FocusIn:
        if (echoMode() == QLineEdit::Password) {
            // Every touch of a password field starts empty, and the field
            // never keeps the focus, so no physical key reveals the entry.
            setText(QString());
            clearFocus();
            setPlaceholderText(boxpaint::msg(125));
        }
        setCurrent(this);
        break;
    case QEvent::FocusOut:
        setCurrent(nullptr);
        if (gpNumPad)
            gpNumPad->hide();
        if (gpNumCharPad)
            gpNumCharPad->hide();
        break;
    case QEvent::MouseButtonRelease:
        if (current())
            openPad();
        break;
    default:
        break;
    }
    return QLineEdit::event(e);
}

Edit::PadPlace Edit::padPlace(const QWidget* pad) const
{
    PadPlace place;
    QWidget* parent = parentWidget();
    int x = this->x();
    int y = this->y() + height() + 5;
    // Null until the settings window has opened the network page once.
    QWidget* net = gpNetDialog;
    const bool inNetDialog = (m_keypadFlags & 0x20) && !(m_keypadFlags & (0x8 | 0x10));
    int fieldTop = 0;

    if ((m_keypadFlags & 0x8) && parent && parent->parentWidget()) {
        x += parent->x();
        y += parent->y();
        place.host = parent->parentWidget();
    } else if ((m_keypadFlags & 0x10) && parent && parent->parentWidget() && parent->parentWidget()->parentWidget()) {
        QWidget* gp = parent->parentWidget();
        x += parent->x() + gp->x();
        y += parent->y() + gp->y();
        place.host = gp->parentWidget();
    } else if (inNetDialog) {
        // The dialog hosts the pad only when this field lies inside it;
        // otherwise the field's own window does, so the pad still opens.
        QWidget* host = (net && net->isAncestorOf(this)) ? net : window();
        const QPoint o = host == this ? QPoint(0, 0) : mapTo(host, QPoint(0, 0));
        x = o.x();
        fieldTop = o.y();
        y = o.y() + height() + 5;
        place.host = host == this ? nullptr : host;
    } else {
        place.host = parent;
    }

    const int pw = pad->width();
    const int ph = pad->height();
    const int limit = gShowH - 49;
    if (inNetDialog) {
        if (y + ph >= limit)
            y = fieldTop - ph - 5;
    } else {
        const int hw = place.host ? place.host->width() : gShowW;
        const int hh = place.host ? place.host->height() : gShowH;
        if (x + pw > hw)
            x = hw - pw;
        if (y + ph >= limit)
            y = y - ph - 45;
        if (y + ph > hh)
            y = hh - ph;
    }
    place.pos = QPoint(x, y);
    return place;
}

void Edit::openPad()
{
    QWidget* pad = nullptr;
    if (m_keypadFlags & 0x2) {
        pad = gpNumCharPad;
    } else {
        gpNumPad->eraseAll();
        pad = gpNumPad;
    }
    const PadPlace place = padPlace(pad);
    if (pad->parentWidget() != place.host)
        pad->setParent(place.host);
    pad->move(place.pos);
    pad->show();
    pad->raise();
    pad->activateWindow();
}

void Edit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Period || e->key() == 13)
        emit sig_Dot();
    if (e->key() == Qt::Key_Return) {
        if (gpNumCharPad && gpNumCharPad->isVisible()) {
            gpNumCharPad->HideUpdate();
        } else if (gpNumPad && gpNumPad->isVisible()) {
            gpNumPad->HideUpdate();
        } else {
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QApplication::sendEvent(this, &release);
        }
    }
    QLineEdit::keyPressEvent(e);
}

void Edit::focusOutEvent(QFocusEvent* e)
{
    emit focusOut();
    QLineEdit::focusOutEvent(e);
}
