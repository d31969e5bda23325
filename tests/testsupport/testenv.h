#pragma once
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class MainState;

// A fresh working directory, a fresh simulated platform and fresh process
// state for one test. The working directory is filled from the factory
// template the build writes to <build>/workdir (when it exists), the process
// changes into it, and STATION_SIMROOT points at an empty sim root. The
// process-wide state is freed and made again in the order a start-up makes
// it (see resetProcessState): the test starts like a fresh station, without
// a window but with a plain MainState in gpWin. Unless the test chose them,
// the station's servers get ports of their own (STATION_HTTP_PORT 0, any free
// one; STATION_MODBUS_PORT a free one), also in the stations it starts, so a
// station running beside the tests or another test never holds them.
// Everything is undone when the object goes away. A TestEnv made while
// another lives only changes folders.
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

    // Frees the board link, the camera manager and both parameter sets,
    // clears every global to its start value, loads the message table and
    // points gpWin at `state` (the plain MainState a TestEnv owns, or null).
    // The language (gLan) stays as the test chose it.
    static void resetProcessState(MainState* state);

private:
    QTemporaryDir m_work;
    QTemporaryDir m_sim;
    QString m_oldCwd;
    MainState* m_state = nullptr;
    bool m_outer = false;
    QByteArray m_oldSim;
    bool m_hadSim = false;
    QStringList m_portsSet; // the port variables this object set
};

// Copies a folder tree (used for the factory template).
bool copyTree(const QString& from, const QString& to);

// The process's resident memory now, in kB (0 when unknown).
long residentKb();
