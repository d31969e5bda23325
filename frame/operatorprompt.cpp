#include "frame/operatorprompt.h"
#include "frame/globals.h"

#include <atomic>
#include <glog/logging.h>

namespace {
std::atomic<OperatorPrompt*> g_prompt{nullptr};

bool route(OperatorPrompt::Kind kind, int msg, const QString& given)
{
    const QString text = given.isEmpty() ? messageText(msg) : given;
    if (OperatorPrompt* p = g_prompt.load())
        return p->prompt(kind, msg, text);
    LOG(WARNING) << (kind == OperatorPrompt::Question ? "unanswered question " : "unshown message ") << msg
                 << ": " << text.toStdString() << (kind == OperatorPrompt::Question ? " (taken as NO)" : "");
    return false;
}
} // namespace

OperatorPrompt::~OperatorPrompt()
{
    OperatorPrompt* self = this;
    g_prompt.compare_exchange_strong(self, nullptr);
}

void OperatorPrompt::install(OperatorPrompt* p) { g_prompt.store(p); }
OperatorPrompt* OperatorPrompt::installed() { return g_prompt.load(); }

QString messageText(int msg)
{
    const int i = 4 * msg + gLan;
    return (msg >= 0 && i < kLanStrCount) ? gaLanStr[i] : QString();
}

void tellOperator(int msg, const QString& text) { route(OperatorPrompt::Message, msg, text); }
bool askOperator(int msg, const QString& text) { return route(OperatorPrompt::Question, msg, text); }
