#pragma once
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <functional>

class QWidget;

// A fresh working directory and a fresh simulated platform for one test.
// The working directory is filled from the factory template the build writes
// to <build>/workdir (when it exists), the process changes into it, and
// STATION_SIMROOT points at an empty sim root. Everything is undone when the
// object goes away.
class TestEnv
{
public:
    explicit TestEnv(bool copyFactoryTemplate = true);
    ~TestEnv();

    QString workDir() const { return m_work.path(); }
    QString simRoot() const { return m_sim.path(); }
    bool isValid() const { return m_work.isValid() && m_sim.isValid(); }

    // Writes a file below the sim root (e.g. "/proc/cpuinfo"), making folders.
    bool writeSimFile(const QString& absPath, const QByteArray& content) const;
    // Writes a file below the working directory.
    bool writeWorkFile(const QString& relPath, const QByteArray& content) const;

    static QString buildDir();
    static QString sourceDir();

private:
    QTemporaryDir m_work;
    QTemporaryDir m_sim;
    QString m_oldCwd;
    QByteArray m_oldSim;
    bool m_hadSim = false;
};

// Polls every 20 ms until `find` returns a widget, then hands it to `answer`.
// Gives up after timeoutMs.
void answerWhenFound(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& answer,
                     int timeoutMs = 5000);

// Answers the next modal widget the way a person would: polls for
// QApplication::activeModalWidget() and hands it to `answer` (which clicks a
// button). Call before the code that runs exec(). Gives up after timeoutMs.
void answerModal(const std::function<void(QWidget*)>& answer, int timeoutMs = 5000);

// Clicks the first visible QAbstractButton of the widget whose text equals `text`.
bool clickButtonWithText(QWidget* w, const QString& text);

// Copies a folder tree (used for the factory template).
bool copyTree(const QString& from, const QString& to);
