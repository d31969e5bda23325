#include "widgets_boxes/widgettest.h"
#include "frame/clock.h"
#include "testsupport/modalanswer.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/edit.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/warnbox.h"

#include <QFont>
#include <QTest>

namespace widgettest {

bool initToolkit(int lan)
{
    QFont::insertSubstitution("wqy-microhei", "WenQuanYi Micro Hei");
    QFont::insertSubstitution("wenquanyi", "WenQuanYi Micro Hei");
    const int n = MessageTable::load();
    gLan = lan;
    gShowW = 1280;
    gShowH = 800;
    return n > 0;
}

void resetShared()
{
    delete gpPasswordBox;
    delete gpChooseBox;
    delete gpWarnBox;
    delete gpLostCameraWarnBox;
    delete gpProductAlarmWarnBox;
    remakePads(false);
    gpControlIO = nullptr;
    gpNetDialog = nullptr;
    gLan = 1;
}

void remakePads(bool create)
{
    // Deleting a shared pad makes its replacement; take that one down too.
    for (int i = 0; i < 3 && (gpNumPad || gpNumCharPad); ++i) {
        NumberInput* n = gpNumPad;
        NumCharInput* c = gpNumCharPad;
        gpNumPad = nullptr;
        gpNumCharPad = nullptr;
        delete n;
        delete c;
    }
    gpNumPad = nullptr;
    gpNumCharPad = nullptr;
    if (create) {
        NumberInput::createShared();
        NumCharInput::createShared();
    }
    Edit::setCurrent(nullptr);
    PasswordBox::setLoginLevel(0);
    Clock::install(nullptr);
}

void answerWhenVisible(QWidget* w, const std::function<void(QWidget*)>& answer, int timeoutMs)
{
    QPointer<QWidget> target(w);
    answerWhenFound([target]() -> QWidget* { return target && target->isVisible() ? target.data() : nullptr; },
                    answer, timeoutMs);
}

void touch(QWidget* w, QPoint pos)
{
    if (pos.x() < 0)
        pos = w->rect().center();
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, pos);
}

Edit* shownEdit(QWidget* parent, int keypadFlags, const QRect& geometry)
{
    auto* e = new Edit(keypadFlags, parent, 1);
    e->setGeometry(geometry);
    e->show();
    return e;
}

// Password fields shuffle the digits: find the key that now carries one.
static ColorButton* padKey(QChar digit)
{
    for (int i = 0; gpNumPad && i < 10; ++i)
        if (gpNumPad->digitKey(i)->text() == QString(digit))
            return gpNumPad->digitKey(i);
    return nullptr;
}

QString lanTag()
{
    return gLan == 0 ? QStringLiteral("zh") : QStringLiteral("en");
}

void typeOnPad(const QString& digits)
{
    for (QChar c : digits) {
        ColorButton* k = padKey(c);
        QVERIFY(k);
        QTest::mouseClick(k, Qt::LeftButton);
    }
}

} // namespace widgettest
