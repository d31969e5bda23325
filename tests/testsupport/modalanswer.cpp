#include "testsupport/modalanswer.h"
#include "testsupport/installboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

void answerWhenFound(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& answer,
                     int timeoutMs)
{
    auto* timer = new QTimer;
    QElapsedTimer started;
    started.start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, started, find, answer, timeoutMs]() {
        if (QWidget* w = find()) {
            timer->stop();
            timer->deleteLater();
            answer(w);
        } else if (started.elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void answerModal(const std::function<void(QWidget*)>& answer, int timeoutMs)
{
    answerWhenFound(
        [] {
            QWidget* w = QApplication::activeModalWidget();
            return w && w->isVisible() ? w : nullptr;
        },
        answer, timeoutMs);
}

bool clickButtonWithText(QWidget* w, const QString& text)
{
    const auto buttons = w->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        if (b->isVisible() && b->text() == text) {
            QTest::mouseClick(b, Qt::LeftButton);
            return true;
        }
    }
    return false;
}
