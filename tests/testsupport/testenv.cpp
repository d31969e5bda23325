#include "widgets/boxprompt.h"
#include <QApplication>
#include "testsupport/testenv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <QWidget>

QString TestEnv::buildDir()
{
    return QString::fromLocal8Bit(qgetenv("STATION_BUILD_DIR"));
}

QString TestEnv::sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("STATION_SOURCE_DIR"));
}

bool copyTree(const QString& from, const QString& to)
{
    QDir src(from);
    if (!src.exists())
        return false;
    QDir().mkpath(to);
    bool ok = true;
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QString rel = src.relativeFilePath(p);
        const QString dst = to + "/" + rel;
        if (QFileInfo(p).isDir()) {
            ok = QDir().mkpath(dst) && ok;
        } else {
            QDir().mkpath(QFileInfo(dst).absolutePath());
            QFile::remove(dst);
            ok = QFile::copy(p, dst) && ok;
            QFile::setPermissions(dst, QFile::permissions(p) | QFile::WriteOwner);
        }
    }
    return ok;
}

TestEnv::TestEnv(bool copyFactoryTemplate)
{
    // Widget tests answer the core's questions through the real boxes.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        BoxPrompt::installShared();
    m_oldCwd = QDir::currentPath();
    m_hadSim = qEnvironmentVariableIsSet("STATION_SIMROOT");
    m_oldSim = qgetenv("STATION_SIMROOT");
    if (copyFactoryTemplate && !buildDir().isEmpty())
        copyTree(buildDir() + "/workdir", m_work.path());
    qputenv("STATION_SIMROOT", m_sim.path().toLocal8Bit());
    QDir::setCurrent(m_work.path());
}

TestEnv::~TestEnv()
{
    QDir::setCurrent(m_oldCwd);
    if (m_hadSim)
        qputenv("STATION_SIMROOT", m_oldSim);
    else
        qunsetenv("STATION_SIMROOT");
}

static bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

bool TestEnv::writeSimFile(const QString& absPath, const QByteArray& content) const
{
    return writeFile(m_sim.path() + absPath, content);
}

bool TestEnv::writeWorkFile(const QString& relPath, const QByteArray& content) const
{
    return writeFile(m_work.path() + "/" + relPath, content);
}

void answerWhenFound(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& answer,
                     int timeoutMs)
{
    auto* timer = new QTimer;
    QElapsedTimer started;
    started.start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, started, find, answer, timeoutMs]() {
        if (QWidget* w = find()) {
            timer->stop();
            timer->deleteLater();
            answer(w);
        } else if (started.elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void answerModal(const std::function<void(QWidget*)>& answer, int timeoutMs)
{
    answerWhenFound(
        [] {
            QWidget* w = QApplication::activeModalWidget();
            return w && w->isVisible() ? w : nullptr;
        },
        answer, timeoutMs);
}

bool clickButtonWithText(QWidget* w, const QString& text)
{
    const auto buttons = w->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        if (b->isVisible() && b->text() == text) {
            QTest::mouseClick(b, Qt::LeftButton);
            return true;
        }
    }
    return false;
}
