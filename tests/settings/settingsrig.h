#pragma once
// The real main window over the simulated camera plug-in, opened the way the
// operator opens it, with a hand at the panel that answers the house boxes.
#include <QObject>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>
#include <functional>
#include <memory>

class ReDoWizard;
class TestEnv;

// Answers every house box as it shows, in order, from a script: "yes", "no",
// "ok", "login:<digits>" (typed on the pad) or "cancel"; a box with no
// script entry left gets NO (or Cancel, or OK for a notice). The texts of
// the boxes answered are kept ("login" for a login box).
class OperatorHand : public QObject
{
public:
    OperatorHand();
    void say(const QStringList& answers) { script += answers; }
    // Called with each question or message box before it is answered.
    std::function<void(QWidget* box)> look;
    QStringList seen;
    QStringList script;

private:
    void poll();
    bool answer(); // true when it answered a box
    QTimer m_timer;
    bool m_busy = false;
};

class SettingsRig
{
public:
    // Two simulated cameras of 320 x 256 ("SETCAM-0" mono, "SETCAM-1" colour);
    // lan is the stored language.
    explicit SettingsRig(int lan = 1);
    ~SettingsRig();
    ReDoWizard* win = nullptr;
    OperatorHand hand;
    // The station started again in the same working directory, as a new
    // process starts it: nothing of the old window and a language not yet
    // known (0) until the parameters load.
    void restart();
    // The side bar's settings button.
    void openSettings();
    void click(QWidget* w);
    // Clicks the settings window's button with this text, on whichever page
    // it is (the page's tab touched first).
    void press(const QString& text);
    // Types on the letters keyboard (lower-case letters, digits, punctuation).
    static void typeLetters(const QString& text);
    // The stored text of a parameter row, and value pos (1-based) of it.
    static QString storedRow(const QString& key);
    static int stored(const QString& key, int pos);
    static bool setStored(const QString& file, const QString& key, int pos, int value);
    // The journal's remarks, oldest first.
    static QStringList journal();
    // The simulated cameras' calls since the window was built.
    QStringList cameraCalls() const;

private:
    std::unique_ptr<TestEnv> m_env;
    QTemporaryFile m_cfg;
    QString m_log;
    int m_logStart = 0;
};
