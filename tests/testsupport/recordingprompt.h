#pragma once
#include "frame/operatorprompt.h"

#include <QList>
#include <QMutex>
#include <QQueue>
#include <QString>

// The operator in core tests: installs itself for its lifetime, records every
// message and question (kind, message number, text) and answers questions
// from a queue of answers (NO when the queue is empty).
class RecordingPrompt : public OperatorPrompt
{
public:
    struct Asked {
        Kind kind;
        int msg;
        QString text;
    };

    RecordingPrompt();
    ~RecordingPrompt() override;

    bool prompt(Kind kind, int msg, const QString& text) override;

    void answer(bool yes) { QMutexLocker l(&m_mutex); m_answers.enqueue(yes); }
    QList<Asked> asked() const { QMutexLocker l(&m_mutex); return m_asked; }
    // The message numbers asked or told so far, in order.
    QList<int> numbers() const;
    void clear() { QMutexLocker l(&m_mutex); m_asked.clear(); m_answers.clear(); }

private:
    mutable QMutex m_mutex;
    QList<Asked> m_asked;
    QQueue<bool> m_answers;
    OperatorPrompt* m_previous = nullptr;
};
