#include "testsupport/testenv.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

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

namespace {
// Folder names as a user's checkout might have them, and as an attacker
// would pick them: a path pasted into a shell line unquoted splits at the
// space, and runs the "$(...)" - which leaves a file named kShellMark.
const char* const kShellMark = "shell-ran-path";
QString hostileTemplate(const char* what)
{
    return QDir::tempPath() + QStringLiteral("/station %1 'q\" $(touch %2)-XXXXXX").arg(what, kShellMark);
}
} // namespace

TestEnv::TestEnv(bool copyFactoryTemplate)
    : m_work(hostileTemplate("work")), m_sim(hostileTemplate("sim"))
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
    for (const QString& dir : {m_work.path(), m_sim.path(), QDir::currentPath(), QDir::tempPath()})
        if (QFile::exists(dir + "/" + kShellMark))
            QTest::qFail("a path was pasted into a shell line unquoted", __FILE__, __LINE__);
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

