#include "widgets/boxprompt.h"
#include "frame/globals.h"
#include "widgets/choosebox.h"
#include "widgets/warnbox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

namespace {
bool onScreen(QWidget* w)
{
    return w && (!w->parentWidget() || w->parentWidget()->window()->isVisible());
}

bool showBox(OperatorPrompt::Kind kind, const QString& text)
{
    if (kind == OperatorPrompt::Message) {
        if (onScreen(gpWarnBox)) {
            gpWarnBox->setText(text);
            gpWarnBox->exec();
            return true;
        }
        WarnBox box(nullptr);
        box.setText(text);
        box.exec();
        return true;
    }
    if (onScreen(gpChooseBox)) {
        gpChooseBox->setText(text);
        return gpChooseBox->exec() == QDialog::Accepted;
    }
    ChooseBox box(nullptr, gShowW, gShowH);
    box.setText(text);
    return box.exec() == QDialog::Accepted;
}
} // namespace

bool BoxPrompt::prompt(Kind kind, int, const QString& text)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread())
        return showBox(kind, text);
    bool answer = false;
    QMetaObject::invokeMethod(app, [&] { answer = showBox(kind, text); }, Qt::BlockingQueuedConnection);
    return answer;
}

void BoxPrompt::installShared()
{
    static BoxPrompt prompt;
    OperatorPrompt::install(&prompt);
}
