#include "testsupport/testenv.h"

#include "controller/controlport.h"
#include "controller/lcdonoff.h"
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"

#include <QDirIterator>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

namespace {
int gDepth = 0;

// A port of the loopback address that nothing holds now.
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}
} // namespace

void TestEnv::resetProcessState(MainState* state)
{
    // Freed in the reverse order of a start-up...
    delete gpControlIO; // stops its polling thread first
    gpControlIO = nullptr;
    ComClose();
    delete CameraManager::_instance;
    delete gpWParaBak;
    gpWParaBak = nullptr;
    delete gpWPara;
    gpWPara = nullptr;
    if (gfLED > 0)
        ::close(gfLED);
    gfLED = -1;
    resetLedMask();
    Clock::install(nullptr);
    // A run that ended refuses journal entries and commands.
    StationExit::resetForTest();
    // ...every value back to what a fresh process has...
    numCamera = 0;
    gDNum = 4;
    gShowW = 1280;
    gShowH = 800;
    gTempNum = 1;
    gPicNumNG = gPicNumOK = 0;
    gisCOM = 1;
    gisGrayHue = 1;
    gSource = -1;
    gFromTrain = gDrawHint = gHelpC = 0;
    gTempTime.clear();
    gDeviceID.clear();
    for (QString& n : gaName)
        n.clear();
    {
        QMutexLocker lock(boardIoMutex());
        gDataIn = gDataOut = gDataInRisen = 0;
    }
    std::fill(std::begin(gFTemp), std::end(gFTemp), 0u);
    for (int* a : {gAllNum, gFailNum, gAllCycleNum, gFailCycleNum})
        std::fill(a, a + 8, 0);
    gSyncNGNum = gSyncNGCycleNum = 0;
    std::fill(&gFailIndex[0][0], &gFailIndex[0][0] + 64, 0);
    std::fill(&gisSaveFail[0][0][0], &gisSaveFail[0][0][0] + 128, false);
    // ...then made again as main makes them.
    if (!pMutexIO)
        pMutexIO = new QMutex;
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;
    MessageTable::load();
    gpWin = state;
}

TestEnv::TestEnv(bool copyFactoryTemplate)
    : m_work(hostileTemplate("work")), m_sim(hostileTemplate("sim"))
{
    m_outer = gDepth++ == 0;
    if (m_outer) {
        m_state = new MainState;
        resetProcessState(m_state);
    }
    m_oldCwd = QDir::currentPath();
    m_hadSim = qEnvironmentVariableIsSet("STATION_SIMROOT");
    m_oldSim = qgetenv("STATION_SIMROOT");
    if (copyFactoryTemplate && !buildDir().isEmpty())
        copyTree(buildDir() + "/workdir", m_work.path());
    qputenv("STATION_SIMROOT", m_sim.path().toLocal8Bit());
    QDir::setCurrent(m_work.path());
    if (m_outer) {
        const QByteArray ports[][2] = {{"STATION_HTTP_PORT", "0"},
                                       {"STATION_MODBUS_PORT", QByteArray::number(freeLoopbackPort())}};
        for (const auto& p : ports)
            if (!qEnvironmentVariableIsSet(p[0].constData())) {
                qputenv(p[0].constData(), p[1]);
                m_portsSet << QString::fromLatin1(p[0]);
            }
    }
}

TestEnv::~TestEnv()
{
    for (const QString& dir : {m_work.path(), m_sim.path(), QDir::currentPath(), QDir::tempPath()})
        if (QFile::exists(dir + "/" + kShellMark))
            QTest::qFail("a path was pasted into a shell line unquoted", __FILE__, __LINE__);
    if (m_outer) {
        resetProcessState(nullptr);
        delete m_state;
    }
    --gDepth;
    QDir::setCurrent(m_oldCwd);
    if (m_hadSim)
        qputenv("STATION_SIMROOT", m_oldSim);
    else
        qunsetenv("STATION_SIMROOT");
    for (const QString& var : m_portsSet)
        qunsetenv(var.toLatin1().constData());
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


long residentKb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}
