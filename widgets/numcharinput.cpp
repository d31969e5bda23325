#include "widgets/numcharinput.h"
#include "frame/globals.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QPainter>
#include <QPaintEvent>

namespace {
QStringList chars(const QString& s)
{
    QStringList out;
    for (QChar c : s)
        out << QString(c);
    return out;
}
} // namespace

NumCharInput::NumCharInput(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    setGeometry(0, 0, 785, 295);
    setFocusPolicy(Qt::NoFocus);
    m_group = new QButtonGroup(this);

    auto makeKey = [this](int index, const QString& caption, int x, int y, int w) {
        auto* b = new ColorButton(caption, this, 3);
        b->setGeometry(x, y, w, 65);
        b->setFocusPolicy(Qt::NoFocus);
        m_keys[index] = b;
        if (index < PageKey)
            m_group->addButton(b, index);
        return b;
    };

    const QString row1 = QStringLiteral("1234567890_");
    for (int c = 0; c < 11; ++c)
        makeKey(c, row1.mid(c, 1), 10 + 70 * c, 10, 65);
    const QString row2 = QStringLiteral("qwertyuiop");
    for (int c = 0; c < 10; ++c)
        makeKey(11 + c, row2.mid(c, 1), 42 + 70 * c, 80, 65);
    const QString row3 = QStringLiteral("asdfghjkl");
    for (int c = 0; c < 9; ++c)
        makeKey(21 + c, row3.mid(c, 1), 62 + 70 * c, 150, 65);
    const QString row4 = QStringLiteral("zxcvbnm");
    for (int c = 0; c < 7; ++c)
        makeKey(30 + c, row4.mid(c, 1), 106 + 70 * c, 220, 65);

    connect(makeKey(PageKey, boxpaint::msg(441), 695, 150, 80), &QAbstractButton::clicked, this,
            &NumCharInput::SlotChgChar_Punc);
    connect(makeKey(CaseKey, boxpaint::msg(158), 10, 220, 80), &QAbstractButton::clicked, this,
            &NumCharInput::SlotCap);
    connect(makeKey(EraseKey, boxpaint::msg(157), 605, 220, 80), &QAbstractButton::clicked, this,
            &NumCharInput::eraseContent);
    connect(makeKey(OkKey, boxpaint::msg(121), 695, 220, 80), &QAbstractButton::clicked, this,
            &NumCharInput::HideUpdate);
    connect(m_group, &QButtonGroup::idClicked, this, &NumCharInput::setContent);
    fitFunctionKeys();
    hide();
}

void NumCharInput::fitFunctionKeys()
{
    // "character", "Confirm" and the like do not fit an 80-pixel key at the
    // house size in every language.
    for (int k = PageKey; k <= OkKey; ++k)
        m_keys[k]->fitCaption();
}

NumCharInput::~NumCharInput()
{
    if (gpNumCharPad == this)
        gpNumCharPad = nullptr;
}

NumCharInput* NumCharInput::createShared()
{
    auto* pad = new NumCharInput(nullptr);
    gpNumCharPad = pad;
    connect(pad, &QObject::destroyed, []() {
        if (!gpNumCharPad && QCoreApplication::instance() && !QCoreApplication::closingDown())
            createShared();
    });
    return pad;
}

void NumCharInput::setRows(const QStringList& row2, const QStringList& row3, const QStringList& row4)
{
    for (int c = 0; c < 10 && c < row2.size(); ++c)
        m_keys[11 + c]->setText(row2[c]);
    for (int c = 0; c < 9 && c < row3.size(); ++c)
        m_keys[21 + c]->setText(row3[c]);
    for (int c = 0; c < 7 && c < row4.size(); ++c)
        m_keys[30 + c]->setText(row4[c]);
}

void NumCharInput::setLetters(bool upper)
{
    m_punctuation = false;
    m_upper = upper;
    const auto row = [upper](const char* keys) {
        const QString r = QString::fromLatin1(keys);
        return chars(upper ? r.toUpper() : r);
    };
    setRows(row("qwertyuiop"), row("asdfghjkl"), row("zxcvbnm"));
    m_keys[CaseKey]->setText(boxpaint::msg(upper ? 159 : 158));
    m_keys[PageKey]->setText(boxpaint::msg(441));
    fitFunctionKeys();
    update();
}

void NumCharInput::SlotChgChar_Punc()
{
    // The page is kept as state rather than read back from the page key's
    // caption, so languages whose two captions coincide still switch.
    if (m_punctuation) {
        setLetters(false);
        return;
    }
    m_punctuation = true;
    m_upper = false;
    setRows({"-", "=", "[", "]", "\\", ";", "'", ",", ".", "/"}, chars(QStringLiteral("@#$%^?*()")),
            {"`", "~", "!", "{", "}", ":", "\""});
    m_keys[PageKey]->setText(boxpaint::msg(442));
    m_keys[CaseKey]->setText(boxpaint::msg(158));
    fitFunctionKeys();
    update();
}

void NumCharInput::SlotCap()
{
    setLetters(!m_upper);
}

void NumCharInput::setContent(int id)
{
    Edit* e = Edit::current();
    if (!e || id < 0 || id >= PageKey)
        return;
    const QByteArray k = m_keys[id]->text().toLatin1();
    if (k.isEmpty())
        return;
    e->setText(e->text() + QLatin1Char(k.at(0)));
    e->setCursorPosition(e->text().size());
}

void NumCharInput::eraseContent()
{
    Edit* e = Edit::current();
    if (!e)
        return;
    QString t = e->text();
    t.chop(1);
    e->setText(t);
    e->setCursorPosition(qMax(0, t.size() - 1));
}

void NumCharInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (QWidget* p = parentWidget())
            p->update();
    }
}

void NumCharInput::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    boxpaint::drawPadFace(p, e->rect(), width(), height());
}

void NumCharInput::showEvent(QShowEvent* e)
{
    setLetters(false);
    QWidget::showEvent(e);
}
