#include "testsupport/finger.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/warnbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

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

QWidget* touchAt(const QPoint& global)
{
    QWidget* hit = QApplication::widgetAt(global);
    if (!hit) {
        QTest::qFail(qPrintable(QStringLiteral("finger at (%1,%2) touched no widget").arg(global.x()).arg(global.y())),
                     __FILE__, __LINE__);
        return nullptr;
    }
    const QPoint local = hit->mapFromGlobal(global);
    // A press that opens a modal box runs its exec() inside mousePress: the
    // release then goes to whatever is on top by the time the box closed, as
    // on a panel. QPointer keeps a widget that the press deleted out of it.
    QPointer<QWidget> guard(hit);
    QTest::mousePress(hit, Qt::LeftButton, {}, local);
    if (guard)
        QTest::mouseRelease(guard, Qt::LeftButton, {}, local);
    return hit;
}

bool tap(QWidget* target, const QPoint& local)
{
    if (!target || !target->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("finger: %1 is not on the screen").arg(describe(target))), __FILE__,
                     __LINE__);
        return false;
    }
    const QPoint at = local.x() < 0 ? target->rect().center() : local;
    const QPoint global = target->mapToGlobal(at);
    QWidget* on = QApplication::widgetAt(global);
    if (on != target && !target->isAncestorOf(on)) {
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
        tap(b);
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
    tap(b);
    return text;
}

} // namespace finger
