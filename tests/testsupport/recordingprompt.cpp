#include "testsupport/recordingprompt.h"

RecordingPrompt::RecordingPrompt()
    : m_previous(OperatorPrompt::installed())
{
    OperatorPrompt::install(this);
}

RecordingPrompt::~RecordingPrompt()
{
    if (OperatorPrompt::installed() == this)
        OperatorPrompt::install(m_previous);
}

bool RecordingPrompt::prompt(Kind kind, int msg, const QString& text)
{
    QMutexLocker l(&m_mutex);
    m_asked.append({kind, msg, text});
    if (kind == Message)
        return true;
    return m_answers.isEmpty() ? false : m_answers.dequeue();
}

QList<int> RecordingPrompt::numbers() const
{
    QList<int> out;
    for (const Asked& a : asked())
        out << a.msg;
    return out;
}
