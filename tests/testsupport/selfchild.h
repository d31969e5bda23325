// Tests that kill a writer at random run their own program again as the
// writer: the child, marked by an environment variable, works in the test's
// directory with its output thrown away.
#pragma once

#include <QCoreApplication>
#include <QProcess>

inline bool startSelfAsChild(QProcess& child, const char* marker, const QString& workDir)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(marker, "1");
    child.setProcessEnvironment(e);
    child.setWorkingDirectory(workDir);
    child.setStandardErrorFile(QProcess::nullDevice());
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    return child.waitForStarted();
}
