#include "widgets/passwordbox.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"

#include <QPainter>
#include <cstring>

namespace {
// Built-in factory code; with the password function on it is only the first
// part of the hourly changing factory password.
const char* const kFactoryCode = "7394";

} // namespace

QDateTime PasswordBox::now()
{
    return Clock::instance()->now();
}

int PasswordBox::loginLevel()
{
    return gpWin ? gpWin->loginLevel : 0;
}

void PasswordBox::setLoginLevel(int level)
{
    if (gpWin)
        gpWin->loginLevel = level;
}

QString PasswordBox::factoryPassword(bool pswUsed, const QDateTime& now)
{
    const QString code = QString::fromLatin1(kFactoryCode);
    if (!pswUsed)
        return code;
    return code + now.toString(QStringLiteral("MMddHH"));
}

PasswordBox::PasswordBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    setGeometry(boxpaint::boxGeometry());

    m_ok = new ColorButton(boxpaint::msg(121), this, 3);
    m_ok->setGeometry(100, height() - 150, 220, 100);
    connect(m_ok, &QAbstractButton::clicked, this, &PasswordBox::accept);

    m_cancel = new ColorButton(boxpaint::msg(124), this, 3);
    m_cancel->setGeometry(width() - 320, height() - 150, 220, 100);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);

    m_field = new Edit(5, this, 1);
    m_field->setEchoMode(QLineEdit::Password);
    m_field->setGeometry(245, 70, gLan == 3 ? 420 : 350, 50);
    m_field->setFont(boxpaint::houseFont(27));
    connect(m_field, &QLineEdit::textChanged, this, &PasswordBox::SlotTextChanged);

    if (gpNumPad)
        connect(gpNumPad, &NumberInput::chkpassword, this, &PasswordBox::accept, Qt::UniqueConnection);
    hide();
}

PasswordBox::~PasswordBox()
{
    releasePad();
    if (gpPasswordBox == this)
        gpPasswordBox = nullptr;
}

void PasswordBox::markWrong()
{
    m_wrong = 2;
    m_field->clear();
    m_field->setPlaceholderText(boxpaint::msg(357));
}

void PasswordBox::markRight()
{
    m_wrong = 0;
    m_field->setPlaceholderText(boxpaint::msg(125));
}

void PasswordBox::releasePad()
{
    if (gpNumPad && isAncestorOf(gpNumPad)) {
        gpNumPad->hide();
        gpNumPad->setParent(nullptr);
    }
}

int PasswordBox::judgeGate(const QString* stored)
{
    if (stored && m_field->text() == *stored) {
        markRight();
        releasePad();
        QDialog::accept();
        return 1;
    }
    markWrong();
    return 0;
}

int PasswordBox::judgeLogin(bool pswUsed)
{
    const QString entry = m_field->text();
    int level = 0;
    if (entry == factoryPassword(pswUsed, now()))
        level = 2;
    else if (gpWPara
             && entry == QString::fromLatin1(gpWPara->password, int(strnlen(gpWPara->password, sizeof gpWPara->password))))
        level = 1;
    if (level > 0) {
        markRight();
        QDialog::accept();
    } else {
        markWrong();
    }
    return level;
}

void PasswordBox::accept()
{
    // A wrong entry also logs out whoever was logged in.
    setLoginLevel(judgeLogin(gpWPara && gpWPara->isPswUsed != 0));
}

void PasswordBox::SlotTextChanged(QString text)
{
    if (!text.isEmpty()) {
        m_field->setPlaceholderText(QString());
    } else if (m_wrong != 2) {
        m_field->setPlaceholderText(boxpaint::msg(125));
    } else {
        m_field->setPlaceholderText(boxpaint::msg(357));
        m_wrong = 0;
    }
}

void PasswordBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    boxpaint::drawBackground(p, QRect(0, 0, width(), height()));
    p.setPen(Qt::yellow);
    p.setFont(boxpaint::houseFont(40));
    p.drawText(QRect(gLan == 3 ? 45 : 95, 75, 200, 40), Qt::AlignLeft | Qt::AlignVCenter, boxpaint::msg(356));
    boxpaint::drawFrame(p, width(), height());
}

void PasswordBox::showEvent(QShowEvent* e)
{
    setGeometry(boxpaint::boxGeometry());
    m_field->clear();
    m_field->setPlaceholderText(boxpaint::msg(125));
    QDialog::showEvent(e);
    m_asker.boxShown(this);
}

void PasswordBox::hideEvent(QHideEvent* e)
{
    if (Edit* cur = Edit::current()) {
        cur->clearFocus();
        Edit::setCurrent(nullptr);
    }
    if (gpNumPad)
        gpNumPad->HideUpdate();
    // The gates live on the stack: the shared pad must not go down with a
    // box, whichever way it closes.
    releasePad();
    m_asker.boxHidden();
    QDialog::hideEvent(e);
}

void PasswordBox::mouseReleaseEvent(QMouseEvent* e)
{
    // A touch beside the field ends the entry; on the login box this judges it.
    if (gpNumPad)
        gpNumPad->HideUpdate();
    QDialog::mouseReleaseEvent(e);
}
