#include "testsupport/finger.h"
#include "testsupport/installboxes.h"
#include "widgets/choosebox.h"
#include "frame/globals.h"
#include "widgets/colorbutton.h"
#include "widgets/numberinput.h"
#include "widgets/warnbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QStyle>
#include <QStyleOptionButton>
#include <QAbstractItemView>

namespace finger {

QString describe(const QWidget* w)
{
    if (!w)
        return QStringLiteral("nothing");
    QString s = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty())
        s += QStringLiteral(" '%1'").arg(w->objectName());
    if (auto* b = qobject_cast<const QAbstractButton*>(w); b && !b->text().isEmpty())
        s += QStringLiteral(" \"%1\"").arg(b->text());
    if (const QWidget* top = w->window(); top != w)
        s += QStringLiteral(" in %1").arg(QString::fromLatin1(top->metaObject()->className()));
    return s;
}

namespace {

// Notes whether a press reached any widget: a touch on a window that a modal
// box blocks is swallowed by Qt, as on the panel.
class PressSeen : public QObject
{
public:
    bool seen = false;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::MouseButtonPress && o->isWidgetType())
            seen = true;
        return false;
    }
};

} // namespace

QWidget* touchAt(const QPoint& global)
{
    QWidget* hit = QApplication::widgetAt(global);
    if (!hit) {
        QTest::qFail(qPrintable(QStringLiteral("finger at (%1,%2) touched no widget").arg(global.x()).arg(global.y())),
                     __FILE__, __LINE__);
        return nullptr;
    }
    // An open list takes every touch (one outside it only closes it).
    if (QWidget* popup = QApplication::activePopupWidget(); popup && popup != hit->window()) {
        QTest::qFail(qPrintable(QStringLiteral("finger at (%1,%2) meant for %3 would close the open list %4")
                                    .arg(global.x())
                                    .arg(global.y())
                                    .arg(describe(hit), describe(popup))),
                     __FILE__, __LINE__);
        return nullptr;
    }
    // The touch enters through the window system, at the window on top
    // there: Qt routes it to the child under the point, drops it when a
    // modal box blocks that window, and hands the release to the widget the
    // press went to.
    QWindow* window = hit->window()->windowHandle();
    if (!window) {
        QTest::qFail(qPrintable(QStringLiteral("finger: %1 has no window").arg(describe(hit))), __FILE__, __LINE__);
        return nullptr;
    }
    QPoint local = window->mapFromGlobal(global);
    if (local.isNull())
        local = QPoint(1, 1); // QTest reads a null point as the window's centre
    // A press asks to activate the window it lands in, as Qt's X client does
    // on a button press; on X the focus comes after the press, and a field
    // takes the focus (and opens its pad) only in an active window.
    const bool activate = QGuiApplication::focusWindow() != window && window->type() != Qt::Popup
        && window->type() != Qt::ToolTip && !(window->flags() & Qt::WindowDoesNotAcceptFocus);
    if (activate)
        window->requestActivate();
    const QString hitName = describe(hit);
    QPointer<QWindow> guard(window);
    QPointer<QWidget> top(hit->window());
    QWidget* const wasActive = QApplication::activeWindow();
    PressSeen spy;
    qApp->installEventFilter(&spy);
    // A press that opens a modal box runs its exec() inside the press or
    // the release: the rest of the touch waits for the box, as on a panel.
    QTest::mousePress(window, Qt::LeftButton, {}, local);
    qApp->removeEventFilter(&spy);
    // A finger rests on the panel long enough for the focus the press asked
    // for to come before it lifts: the touch lifts once the window is active
    // (or another has taken the focus since). A list the press opened holds
    // the touch itself.
    if (activate && spy.seen && top && top->isVisible() && !QApplication::activePopupWidget())
        (void)QTest::qWaitFor(
            [&] {
                QWidget* active = QApplication::activeWindow();
                return !top || active == top || (active && active != wasActive);
            },
            5000);
    if (guard)
        QTest::mouseRelease(guard, Qt::LeftButton, {}, local);
    if (!spy.seen) {
        QWidget* modal = QApplication::activeModalWidget();
        QTest::qFail(qPrintable(QStringLiteral("finger at (%1,%2) on %3 was swallowed (modal: %4)")
                                    .arg(global.x())
                                    .arg(global.y())
                                    .arg(hitName, describe(modal))),
                     __FILE__, __LINE__);
        return nullptr;
    }
    return hit;
}

bool tap(QWidget* target, const QPoint& local)
{
    if (!target || !target->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("finger: %1 is not on the screen").arg(describe(target))), __FILE__,
                     __LINE__);
        return false;
    }
    QPoint at = local.x() < 0 ? target->rect().center() : local;
    // A check box takes touches on its box (and caption), not on the rest
    // of its width: a person touches the box.
    if (auto* check = qobject_cast<QCheckBox*>(target); check && local.x() < 0) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        at = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, check).center();
    }
    const QPoint global = target->mapToGlobal(at);
    QWidget* on = QApplication::widgetAt(global);
    // A button inside the target takes the touch itself.
    if (on != target && (!target->isAncestorOf(on) || qobject_cast<QAbstractButton*>(on))) {
        QTest::qFail(qPrintable(QStringLiteral("finger meant for %1 at (%2,%3) would touch %4")
                                    .arg(describe(target))
                                    .arg(global.x())
                                    .arg(global.y())
                                    .arg(describe(on))),
                     __FILE__, __LINE__);
        return false;
    }
    return touchAt(global) != nullptr;
}

namespace {

// A box the finger cannot reach would hold the test in its exec() for good:
// the test has failed already (the touch said where it landed), so the box
// is closed unanswered to let it end.
void tapOrClose(QAbstractButton* b, QWidget* box)
{
    if (!tap(b))
        if (auto* d = qobject_cast<QDialog*>(box))
            d->reject();
}

QWidget* shownModal()
{
    QWidget* w = QApplication::activeModalWidget();
    return w && w->isVisible() ? w : nullptr;
}

QString boxText(QWidget* box)
{
    if (auto* c = dynamic_cast<ChooseBox*>(box))
        return c->text();
    if (auto* b = dynamic_cast<WarnBox*>(box))
        return b->text();
    return box->windowTitle();
}

QAbstractButton* houseAnswer(QWidget* box, bool yes)
{
    if (auto* c = dynamic_cast<ChooseBox*>(box))
        return yes ? c->yesButton() : c->noButton();
    if (auto* b = dynamic_cast<WarnBox*>(box))
        return b->okButton();
    return nullptr;
}

} // namespace

void answerBox(const std::function<QAbstractButton*(QWidget* box)>& pick, int timeoutMs, QString* seen)
{
    auto* timer = new QTimer;
    QElapsedTimer started;
    started.start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget* box = shownModal();
        if (!box) {
            if (started.elapsed() > timeoutMs) {
                timer->stop();
                timer->deleteLater();
                QTest::qFail("finger: no box showed to be answered", __FILE__, __LINE__);
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (seen)
            *seen = boxText(box);
        QAbstractButton* b = pick(box);
        if (!b || !b->isVisible()) {
            QTest::qFail(qPrintable(QStringLiteral("finger: the box \"%1\" shows no such button").arg(boxText(box))),
                         __FILE__, __LINE__);
            return;
        }
        tapOrClose(b, box);
    });
    timer->start();
}

void answerBox(const QString& caption, int timeoutMs, QString* seen)
{
    answerBox(
        [caption](QWidget* box) -> QAbstractButton* {
            const auto buttons = box->findChildren<QAbstractButton*>();
            for (QAbstractButton* b : buttons)
                if (b->isVisible() && b->text() == caption)
                    return b;
            return nullptr;
        },
        timeoutMs, seen);
}

void answerYes(int timeoutMs, QString* seen)
{
    answerBox([](QWidget* box) { return houseAnswer(box, true); }, timeoutMs, seen);
}

void answerNo(int timeoutMs, QString* seen)
{
    answerBox([](QWidget* box) { return houseAnswer(box, false); }, timeoutMs, seen);
}

QString answerShownBox(bool yes)
{
    QWidget* box = shownModal();
    if (!box) {
        // A box shown without exec() is answered too, as a person would.
        const QWidgetList all = QApplication::allWidgets();
        for (QWidget* c : all)
            if (c->isVisible() && (dynamic_cast<ChooseBox*>(c) || dynamic_cast<WarnBox*>(c))) {
                box = c;
                break;
            }
    }
    if (!box)
        return QString();
    QAbstractButton* b = houseAnswer(box, yes);
    if (!b)
        return QString();
    const QString text = boxText(box);
    tapOrClose(b, box);
    return text;
}

bool choose(QComboBox* box, int index)
{
    if (!tap(box))
        return false;
    QAbstractItemView* list = box->view();
    QElapsedTimer t;
    t.start();
    while (!list->isVisible() && t.elapsed() < 2000)
        QTest::qWait(10);
    if (!list->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("finger: %1 opened no list").arg(describe(box))), __FILE__, __LINE__);
        return false;
    }
    // At a person's pace: a release within a double-click time of the list
    // opening is taken as the end of the opening touch, not as a choice.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QModelIndex item = box->model()->index(index, box->modelColumn(), box->rootModelIndex());
    list->scrollTo(item);
    if (!tap(list->viewport(), list->visualRect(item).center()))
        return false;
    t.restart();
    while (QApplication::activePopupWidget() && t.elapsed() < 2000)
        QTest::qWait(10);
    // What the selector shows then is the window's answer (it may refuse a
    // choice and go back): the caller checks it.
    if (list->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("finger: the list of %1 stayed open").arg(describe(box))), __FILE__,
                     __LINE__);
        return false;
    }
    return true;
}

bool typeDigits(const QString& digits)
{
    for (QChar c : digits) {
        QAbstractButton* key = nullptr;
        // Password entries shuffle the digits: read the key that carries one.
        for (int i = 0; gpNumPad && i < 10 && !key; ++i)
            if (gpNumPad->digitKey(i)->text() == QString(c))
                key = gpNumPad->digitKey(i);
        if (!key) {
            QTest::qFail(qPrintable(QStringLiteral("finger: no key %1 on the pad").arg(c)), __FILE__, __LINE__);
            return false;
        }
        if (!tap(key))
            return false;
    }
    return true;
}

} // namespace finger
