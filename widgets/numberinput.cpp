#include "widgets/numberinput.h"
#include "controller/mainstate.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/passwordbox.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QPainter>
#include <QPaintEvent>

#include <cstdlib>
#include <sys/time.h>

NumberInput::NumberInput(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    setGeometry(0, 0, 427, 230);
    setFocusPolicy(Qt::NoFocus);

    m_group = new QButtonGroup(this);
    for (int i = 0; i < 10; ++i) {
        m_keys[i] = new ColorButton(QString::number((i + 1) % 10), this, 3);
        m_keys[i]->setGeometry(5 + 106 * (i % 4), 5 + 76 * (i / 4), 100, 70);
        m_keys[i]->setFocusPolicy(Qt::NoFocus);
        m_group->addButton(m_keys[i], i);
    }
    m_del = new ColorButton(boxpaint::msg(157), this, 3);
    m_del->setGeometry(217, 157, 100, 70);
    m_del->setFocusPolicy(Qt::NoFocus);
    connect(m_del, &QAbstractButton::clicked, this, &NumberInput::eraseContent);

    m_ok = new ColorButton(boxpaint::msg(121), this, 3);
    m_ok->setGeometry(323, 157, 100, 70);
    m_ok->setFocusPolicy(Qt::NoFocus);
    connect(m_ok, &QAbstractButton::clicked, this, &NumberInput::HideUpdate);

    connect(m_group, &QButtonGroup::idClicked, this, &NumberInput::setContent);
    m_del->fitCaption();
    m_ok->fitCaption();
    hide();
}

NumberInput::~NumberInput()
{
    if (gpNumPad == this)
        gpNumPad = nullptr;
}

NumberInput* NumberInput::createShared()
{
    auto* pad = new NumberInput(nullptr);
    gpNumPad = pad;
    if (gpPasswordBox)
        connect(pad, &NumberInput::chkpassword, gpPasswordBox, &PasswordBox::accept, Qt::UniqueConnection);
    connect(pad, &QObject::destroyed, []() {
        if (!gpNumPad && QCoreApplication::instance() && !QCoreApplication::closingDown())
            createShared();
    });
    return pad;
}

QVector<int> NumberInput::genRandomNumber()
{
    // Re-seeding from the microseconds before every draw: draws within the
    // same microsecond repeat and are dropped, so the loop runs until the
    // clock has moved far enough to give every digit.
    QVector<int> digits;
    while (digits.size() < 10) {
        timeval tv {};
        gettimeofday(&tv, nullptr);
        std::srand(static_cast<unsigned>(tv.tv_usec));
        const int r = std::rand();
        // Scaled in floating point: r * 10 in int overflows for most r.
        int d = static_cast<int>(r * 10.0 / 2147483647.0);
        if (d < 0)
            d = 0;
        if (d > 9)
            d = 9;
        if (!digits.contains(d))
            digits.append(d);
    }
    return digits;
}

void NumberInput::setContent(int id)
{
    Edit* e = Edit::current();
    if (!e || id < 0 || id > 9)
        return;
    e->addValue(m_keys[id]->text(), m_fresh);
    m_fresh = false;
}

void NumberInput::eraseContent()
{
    if (Edit* e = Edit::current())
        e->deleteValue(m_fresh);
}

void NumberInput::eraseAll()
{
    Edit* e = Edit::current();
    if (!e)
        return;
    e->clear();
    e->setCursorPosition(0);
    m_fresh = true;
}

void NumberInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (gpWin)
            gpWin->refresh();
    }
    if (gpPasswordBox && gpPasswordBox->isVisible()) {
        emit chkpassword();
        return;
    }
    if (Edit* e = Edit::current())
        e->clearFocus();
}

void NumberInput::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    boxpaint::drawPadFace(p, e->rect(), width(), height());
}

void NumberInput::showEvent(QShowEvent* e)
{
    Edit* cur = Edit::current();
    if (cur && cur->echoMode() == QLineEdit::Password) {
        const QVector<int> order = genRandomNumber();
        for (int i = 0; i < 10; ++i)
            m_keys[i]->setText(QString::number(order[i]));
    } else {
        for (int i = 0; i < 10; ++i)
            m_keys[i]->setText(QString::number((i + 1) % 10));
    }
    QWidget::showEvent(e);
}
