// Kill test of the result images: a child saves result images into
// ./alarmimage and copies them onto a simulated USB stick, both writers on
// their own threads; the parent kills it at random moments (SIGKILL) and
// checks every image file after every kill. Bounded by count.
#include "frame/globals.h"
#include "records/copy2movedisk.h"
#include "records/diskmanager.h"
#include "records/savefialimagethread.h"
#include "simdrive.h"
#include "testsupport/selfchild.h"
#include "testsupport/testenv.h"

#include <QDirIterator>
#include <QMutex>
#include <QThread>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cstring>
#include <random>
#include <sys/stat.h>

namespace {
const char* const kChildVar = "IMAGES_KILL_CHILD";
const QSize kFrame(320, 240);

// The child: fills the result slots without pause; the writers take them.
int runChild()
{
    TestEnv::resetProcessState(nullptr);
    numCamera = 1;
    gDNum = 2;
    gPicNumNG = gPicNumOK = 4;
    DiskManager drives;
    drives.pollOnce();
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    c2m->diskInfoChange(drives.drivesCopy());
    c2m->start();
    SaveFialImageThread writer;
    writer.setCameraSize([](int) { return kFrame; });
    writer.start();
    std::mt19937 rng(uint32_t(QCoreApplication::applicationPid()));
    std::vector<quint32> px(size_t(kFrame.width() * kFrame.height()));
    for (int i = 0;; ++i) {
        for (quint32& p : px)
            p = 0xff000000u | (rng() & 0xffffffu); // noise: every image a large one
        {
            QMutexLocker lock(pMutexSaveFail);
            PixelBuffer& buf = gpFailImage[0][i % 2][(i / 2) % 2];
            if (buf.size() != px.size() * 4)
                buf.allocate(px.size() * 4);
            std::memcpy(buf.data(), px.data(), px.size() * 4);
            gisSaveFail[0][i % 2][(i / 2) % 2] = true;
        }
        QThread::msleep(20);
    }
}

QStringList filesBelow(const QString& root, const QString& pattern)
{
    QStringList out;
    QDirIterator it(root, {pattern}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}
} // namespace

class TstImagesKill : public QObject
{
    Q_OBJECT
private slots:
    void killedWhileWritingLeavesOnlyWholeImages()
    {
        TestEnv env(false);
        QVERIFY(env.writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n"));
        const SimDrive stick(env.simRoot(), 17, "sdb1", "KILL-1");
        QVERIFY(stick.plug());
        const int asked = qEnvironmentVariableIntValue("IMAGES_KILLS");
        const int kills = asked > 0 ? asked : 30;
        std::mt19937 rng(20261207);
        auto imagesBelow = [&](const QString& pattern) {
            return filesBelow(env.workDir() + "/alarmimage", pattern) + filesBelow(stick.medium(), pattern);
        };
        int corrupt = 0, leftOver = 0, leftByKills = 0;
        QMap<QString, ino_t> unfinished; // temporary files a kill left (a later write may reuse a name)
        auto inode = [](const QString& f) {
            struct stat st {};
            return ::lstat(QFile::encodeName(f).constData(), &st) == 0 ? st.st_ino : ino_t(0);
        };
        auto runAndKill = [&](int ms) {
            QProcess child;
            if (!startSelfAsChild(child, kChildVar, env.workDir()))
                return false;
            QThread::msleep(ms);
            child.kill();
            return child.waitForFinished();
        };
        for (int k = 0; k < kills; ++k) {
            QVERIFY(runAndKill(std::uniform_int_distribution<int>(300, 900)(rng)));
            // The temporary files a kill left, each by name and inode.
            for (const QString& f : imagesBelow("*.tmp"))
                if (!unfinished.contains(f) || unfinished.value(f) != inode(f)) {
                    unfinished.insert(f, inode(f));
                    ++leftByKills;
                }
            // Every image under its final name is whole.
            for (const QString& f : imagesBelow("*.jpg"))
                if (cv::imread(f.toStdString()).empty()) {
                    ++corrupt;
                    qWarning() << "corrupt after kill" << k << f;
                }
        }
        // A run long enough for both writers to start: what kills left is gone.
        QVERIFY(runAndKill(3000));
        for (auto it = unfinished.cbegin(); it != unfinished.cend(); ++it)
            if (inode(it.key()) == it.value()) {
                ++leftOver;
                qWarning() << "still there after a restart" << it.key();
            }
        const int local = filesBelow(env.workDir() + "/alarmimage", "*.jpg").size();
        const int onDrive = filesBelow(stick.medium(), "*.jpg").size();
        qInfo() << "kills" << kills << "corrupt files" << corrupt << "unfinished files left by kills" << leftByKills
                << "still there after a restart" << leftOver
                << "images now: local" << local << "on the drive" << onDrive;
        QCOMPARE(corrupt, 0);
        QCOMPARE(leftOver, 0);
        QVERIFY(local > 0 && onDrive > 0);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVar))
        return runChild();
    TstImagesKill t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_images_kill.moc"
