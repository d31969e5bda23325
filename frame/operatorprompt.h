#pragma once
#include <QString>

// How logic reaches the operator without knowing about screens: a message to
// acknowledge or a YES/NO question, named by its message number. The station
// installs the shared boxes at start-up; tests install an answerer that
// records what was asked. With nothing installed, the text goes to the log
// and every question is answered NO.
class OperatorPrompt
{
public:
    enum Kind { Message, Question };

    virtual ~OperatorPrompt();
    // Shows text (already in the current language) and waits for the answer:
    // true for OK or YES.
    virtual bool prompt(Kind kind, int msg, const QString& text) = 0;

    static void install(OperatorPrompt* p); // not owned; nullptr removes
    static OperatorPrompt* installed();
};

// The text of message msg in the current language.
QString messageText(int msg);

// Shows message msg (or text, when given) and waits for OK.
void tellOperator(int msg, const QString& text = QString());
// Asks message msg (or text, when given); true when the operator says YES.
bool askOperator(int msg, const QString& text = QString());
