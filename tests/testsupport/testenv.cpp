#include "testsupport/testenv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
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

void answerModal(const std::function<void(QWidget*)>& answer, int timeoutMs)
{
    auto* timer = new QTimer;
    auto* elapsed = new int(0);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, answer, timeoutMs]() {
        *elapsed += 20;
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete elapsed;
            answer(w);
            return;
        }
        if (*elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete elapsed;
        }
    });
    timer->start();
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
