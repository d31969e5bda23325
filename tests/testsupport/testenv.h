#pragma once
#include <QDir>
#include <QString>
#include <QTemporaryDir>

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

// Copies a folder tree (used for the factory template).
bool copyTree(const QString& from, const QString& to);
