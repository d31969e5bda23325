// Result images and USB storage on the simulated platform: real udev files,
// links and mounts, real JPEG files read back through OpenCV, the test clock
// for every pause.
#include "frame/clock.h"
#include "frame/findau.h"
#include "frame/globals.h"
#include "platform/commandrunner.h"
#include "records/copy2movedisk.h"
#include "records/diskmanager.h"
#include "records/savefialimagethread.h"
#include "simdrive.h"
#include "testsupport/testenv.h"

#include <QDirIterator>
#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <csignal>
#include <cerrno>
#include <sys/resource.h>

namespace {

struct Shot {
    int c, d;
    bool ok;
    QString path;
};

// A frame as a camera would give it, with the colour given, through OpenCV.
QImage frame(int w, int h, cv::Scalar bgr)
{
    cv::Mat m(h, w, CV_8UC3, bgr);
    cv::circle(m, cv::Point(w / 2, h / 2), h / 4, cv::Scalar(255, 255, 255), -1);
    cv::Mat bgra;
    cv::cvtColor(m, bgra, cv::COLOR_BGR2BGRA);
    return QImage(bgra.data, w, h, int(bgra.step), QImage::Format_RGB32).copy();
}

// The colour at the image's corner, as read back from the JPEG file.
cv::Vec3b cornerOf(const QString& path)
{
    const cv::Mat m = cv::imread(path.toStdString());
    return m.empty() ? cv::Vec3b() : m.at<cv::Vec3b>(2, 2);
}

bool near(cv::Vec3b a, cv::Scalar b)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > 12)
            return false;
    return true;
}

void fillSlot(int c, int d, int s, const QImage& img, int failIndex = -1)
{
    QMutexLocker lock(pMutexSaveFail);
    PixelBuffer& buf = gpFailImage[c][d][s];
    if (buf.size() != std::size_t(img.sizeInBytes()))
        buf.allocate(std::size_t(img.sizeInBytes()));
    std::memcpy(buf.data(), img.constBits(), buf.size());
    gisSaveFail[c][d][s] = true;
    if (failIndex >= 0)
        gFailIndex[c][d] = failIndex;
}

QStringList jpgsIn(const QString& folder)
{
    return QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name);
}

QStringList filesBelow(const QString& root, const QString& pattern = "*")
{
    QStringList out;
    QDirIterator it(root, {pattern}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

int countLines(const QString& line)
{
    return CommandRunner::loggedCommands().count(line);
}

const cv::Scalar kBlue(200, 40, 30), kRed(30, 40, 200), kGreen(40, 190, 40);

} // namespace

class TstRecordsUsb : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void driveManagerPlugFailPull();
    void twoSticksOnePass();
    void startUpAndSixthDrive();
    void usbLayoutAndQueue();
    void driveChoice();
    void dayFolders();
    void dayFolderNames_data();
    void dayFolderNames();
    void pulledDrive_data();
    void pulledDrive();
    void diskFull();
    void writerNamesPruneAndPairs();
    void writerSlotRules();
    void slowDriveAndPool();

private:
    SimDrive stick(int minor, const QString& dev, const QString& uuid) const
    {
        SimDrive s;
        s.simRoot = env->simRoot();
        s.minor = minor;
        s.dev = dev;
        s.uuid = uuid;
        return s;
    }
    // Plugs the stick, lets the manager mount it and the writer take it; the
    // test drives the writer's passes.
    Copy2MoveDisk* useDrive(DiskManager& m, const SimDrive& s)
    {
        if (!s.plug() || !m.pollOnce())
            return nullptr;
        Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
        c2m->diskInfoChange(m.drivesCopy());
        c2m->start(false);
        return c2m;
    }
    QString driveFile(const SimDrive& s, const QString& rel) const { return s.medium() + "/" + rel; }
    void startWriter(SaveFialImageThread& w)
    {
        w.setCameraSize([](int) { return QSize(64, 48); });
        w.setPictureSink([this](int c, int d, bool ok, const QString& p) { shots.append({c, d, ok, p}); });
    }

    TestEnv* env = nullptr;
    TestClock* clock = nullptr;
    QList<Shot> shots;
};

void TstRecordsUsb::initTestCase()
{
    qRegisterMetaType<UPanInfo>();
    qRegisterMetaType<QVector<UPanInfo>>();
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;
}

void TstRecordsUsb::init()
{
    env = new TestEnv(false);
    clock = new TestClock(QDateTime(QDate(2026, 12, 5), QTime(15, 50, 39)));
    Clock::install(clock);
    // The panel runs from /dev/sda2.
    env->writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw,relatime 0 0\n");
    shots.clear();
    numCamera = 1;
    gDNum = 2;
    gPicNumNG = 3;
    gPicNumOK = 3;
    for (auto& cam : gisSaveFail)
        for (auto& det : cam)
            det[0] = det[1] = false;
    for (auto& cam : gFailIndex)
        for (int& k : cam)
            k = 0;
}

void TstRecordsUsb::cleanup()
{
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    c2m->stop();
    c2m->setFileWriter(nullptr);
    c2m->setDays(31);
    c2m->diskInfoChange({});
    c2m->writeOnce(); // no drive: empties the queue
    Clock::install(nullptr);
    delete clock;
    delete env;
}

void TstRecordsUsb::driveManagerPlugFailPull()
{
    DiskManager m;
    QSignalSpy spy(&m, &DiskManager::diskInfoChange);
    QVERIFY(SimDrive::plugWholeDisk(env->simRoot(), 16));
    SimDrive a = stick(17, "sdb1", "1234-ABCD");
    a.label = "STICK";
    QVERIFY(a.plug());

    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 1);
    const auto list = spy.at(0).at(0).value<QVector<UPanInfo>>();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].uuid, QString("1234-ABCD"));
    QCOMPARE(list[0].device, QString("/dev/sdb1"));
    QCOMPARE(list[0].bus, QString("usb"));
    QCOMPARE(list[0].label, QString("STICK"));
    QCOMPARE(list[0].mountPath, QString("/mnt"));
    QVERIFY(list[0].byPath.isEmpty() && list[0].fsType.isEmpty());
    QVERIFY(m.ignoredEntries.contains("b8:16"));
    QCOMPARE(countLines("mount /dev/sdb1 /mnt"), 1);
    QVERIFY(QFile(env->simRoot() + "/mnt").exists());
    QVERIFY(!m.pollOnce()); // nothing new: no command, no signal
    QCOMPARE(spy.count(), 1);

    // A stick whose mount fails leaves the list silently and is tried again.
    SimDrive b = stick(33, "sdc1", "5555-0000");
    QVERIFY(b.plug(false));
    QVERIFY(!m.pollOnce());
    QVERIFY(!m.pollOnce());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(countLines("mount /dev/sdc1 /mnt0"), 2);
    QCOMPARE(m.getMountPath(), QStringList{"/mnt"});
    QVERIFY(QDir().mkpath(b.medium()));
    QVERIFY(m.pollOnce());
    QCOMPARE(m.getMountPath(), (QStringList{"/mnt", "/mnt0"}));

    // Pulled: unmounted and reported with the other drive alone.
    a.pull();
    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 3);
    const auto left = spy.last().at(0).value<QVector<UPanInfo>>();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left[0].uuid, QString("5555-0000"));
    QCOMPARE(countLines("umount /dev/sdb1"), 1);
    QVERIFY(!isMountedAt("/dev/sdb1", "/mnt"));
}

void TstRecordsUsb::twoSticksOnePass()
{
    DiskManager m;
    QSignalSpy spy(&m, &DiskManager::diskInfoChange);
    SimDrive a = stick(17, "sdb1", "1111-AAAA"), b = stick(33, "sdc1", "2222-BBBB");
    QVERIFY(a.plug() && b.plug());
    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(m.get_mountDisk("2222-BBBB").mountPath, QString("/mnt"));
    QCOMPARE(m.get_mountDisk("1111-AAAA").mountPath, QString("/mnt0"));
    const QStringList cmds = CommandRunner::loggedCommands().filter(QRegularExpression("^mount "));
    QCOMPARE(cmds, (QStringList{"mount /dev/sdc1 /mnt", "mount /dev/sdb1 /mnt0"}));

    b.pull();
    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).value<QVector<UPanInfo>>().size(), 1);
    SimDrive c = stick(49, "sdd1", "0000-CCCC");
    QVERIFY(c.plug());
    QVERIFY(m.pollOnce());
    QCOMPARE(m.get_mountDisk("0000-CCCC").mountPath, QString("/mnt"));
}

void TstRecordsUsb::startUpAndSixthDrive()
{
    // In at start-up, the system disk known from "/": the stick is used.
    SimDrive a = stick(17, "sdb1", "AAAA-0001");
    QVERIFY(a.plug());
    {
        DiskManager m;
        QVERIFY(m.ignoredEntries.isEmpty());
        QVERIFY(m.pollOnce());
        QCOMPARE(m.getMountPath(), QStringList{"/mnt"});
    }
    // The system disk known only from its ext4 partition.
    env->writeSimFile("/proc/mounts", "");
    SimDrive sys = stick(2, "sda2", "SYS-EXT4");
    sys.fsType = "ext4";
    QVERIFY(sys.plug(false));
    {
        DiskManager m;
        QCOMPARE(m.ignoredEntries, QStringList{"b8:2"});
        QVERIFY(m.pollOnce());
        QCOMPARE(m.drivesCopy().size(), 1);
        QCOMPARE(m.drivesCopy()[0].uuid, QString("AAAA-0001"));
    }
    // Neither known: whatever is in at start-up is left alone.
    sys.pull();
    env->writeSimFile("/proc/mounts", "");
    {
        DiskManager m;
        QCOMPARE(m.ignoredEntries, QStringList{"b8:17"});
        QVERIFY(!m.pollOnce());
    }

    // Six sticks, five mount points: none is mounted over another.
    a.pull();
    env->writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n");
    DiskManager m;
    const int mountsBefore = CommandRunner::loggedCommands().filter(QRegularExpression("^mount ")).size();
    QList<SimDrive> six;
    for (int i = 0; i < 6; ++i) {
        six << stick(17 + 16 * i, QString("sd") + QChar('b' + i) + "1", QString("UU-%1").arg(i));
        QVERIFY(six.last().plug());
    }
    QVERIFY(m.pollOnce());
    QStringList paths = m.getMountPath();
    QCOMPARE(paths.size(), 5);
    QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), 5);
    QCOMPARE(m.get_mountDisk("UU-0").mountPath, QString()); // the smallest UUID waits
    QCOMPARE(CommandRunner::loggedCommands().filter(QRegularExpression("^mount ")).size(), mountsBefore + 5);
    const QString freed = m.get_mountDisk("UU-3").mountPath;
    six[3].pull();
    QVERIFY(m.pollOnce());
    QCOMPARE(m.get_mountDisk("UU-0").mountPath, freed);
}

void TstRecordsUsb::usbLayoutAndQueue()
{
    DiskManager m;
    const SimDrive u = stick(17, "sdb1", "U");
    Copy2MoveDisk* c2m = useDrive(m, u);
    QVERIFY(c2m);
    const QString src = env->workDir() + "/alarmimage/camera2/detect1/NG";

    c2m->add_map_actqueue(src, "2026-12-05_15.50.39", frame(64, 48, kBlue));
    QVERIFY(c2m->writeOnce());
    const QString rel = "monitor_U/20261205/camera2/detect1/NG/2026-12-05_15.50.39.jpg";
    QVERIFY(QFileInfo::exists(driveFile(u, rel)));
    QVERIFY(near(cornerOf(env->simRoot() + "/mnt/" + rel), kBlue));
    QCOMPARE(filesBelow(u.medium(), "*.tmp"), QStringList());

    // At most 11 wait; the same path keeps the later image.
    for (int i = 0; i < 12; ++i)
        c2m->add_map_actqueue(src, QString("n%1").arg(i, 2, 10, QChar('0')), frame(32, 24, kRed));
    QCOMPARE(c2m->queuedCount(), 11);
    QVERIFY(!c2m->queuedPaths().join(' ').contains("n11"));
    QVERIFY(c2m->writeOnce());
    c2m->add_map_actqueue(src, "n11", frame(32, 24, kRed));
    QCOMPARE(c2m->queuedCount(), 11);
    while (c2m->writeOnce()) {
    }
    c2m->add_map_actqueue(src, "same", frame(32, 24, kRed));
    c2m->add_map_actqueue(src, "same", frame(32, 24, kGreen));
    QCOMPARE(c2m->queuedCount(), 1);
    QVERIFY(c2m->writeOnce());
    QVERIFY(near(cornerOf(driveFile(u, "monitor_U/20261205/camera2/detect1/NG/same.jpg")), kGreen));
    QCOMPARE(jpgsIn(driveFile(u, "monitor_U/20261205/camera2/detect1/NG")).size(), 14);
}

void TstRecordsUsb::driveChoice()
{
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    QSignalSpy spy(c2m, &Copy2MoveDisk::diskStateChange);
    const UPanInfo a{"A", {}, {}, "/dev/sdb1", {}, "usb", "/mnt"};
    const UPanInfo b{"B", {}, {}, "/dev/sdc1", {}, "usb", "/mnt0"};
    UPanInfo aMoved = a;
    aMoved.mountPath = "/mnt1";
    UPanInfo unmounted{"C", {}, {}, "/dev/sdd1", {}, "usb", {}};

    c2m->start(false);
    c2m->diskInfoChange({unmounted});
    QCOMPARE(spy.count(), 0);
    c2m->diskInfoChange({a});
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toBool(), true);
    c2m->diskInfoChange({b, a}); // the drive in use stays, no signal
    QCOMPARE(c2m->deviceId(), QString("A"));
    c2m->diskInfoChange({aMoved}); // remounted elsewhere: followed
    QCOMPARE(c2m->prepath(), QString("/mnt1"));
    c2m->diskInfoChange({b}); // another drive takes its place, no signal
    QCOMPARE(c2m->prepath(), QString("/mnt0"));
    QCOMPARE(c2m->deviceId(), QString("B"));
    QCOMPARE(spy.count(), 1);
    c2m->diskInfoChange({});
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).toBool(), false);
    QVERIFY(c2m->prepath().isEmpty() && c2m->deviceId().isEmpty());

    // Stopped: the drive is tracked, nothing is queued or signalled.
    c2m->stop();
    c2m->diskInfoChange({a});
    QCOMPARE(c2m->prepath(), QString("/mnt"));
    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect1/OK", "x", frame(8, 8, kRed));
    QCOMPARE(c2m->queuedCount(), 0);
    QCOMPARE(spy.count(), 2);
}

void TstRecordsUsb::dayFolders()
{
    DiskManager m;
    const SimDrive u = stick(17, "sdb1", "U");
    Copy2MoveDisk* c2m = useDrive(m, u);
    QVERIFY(c2m);
    const QString root = driveFile(u, "monitor_U");
    QDate day(2026, 11, 4);
    for (int i = 0; i < 31; ++i, day = day.addDays(1))
        QVERIFY(QDir().mkpath(root + "/" + day.toString("yyyyMMdd") + "/camera1/detect1/NG"));
    const QString src = env->workDir() + "/alarmimage/camera1/detect1/NG";

    // days 31, 31 folders, a new day: the oldest goes.
    c2m->add_map_actqueue(src, "a", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QStringList days = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(days.size(), 31);
    QCOMPARE(days.first(), QString("20261105"));
    QCOMPARE(days.last(), QString("20261205"));

    // days 0 counts as 1: only today's folder survives, one folder per new one.
    c2m->setDays(0);
    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect2/OK", "b", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QVERIFY(QFileInfo::exists(root + "/20261205/camera1/detect2/OK/b.jpg"));
    QVERIFY(!QFileInfo::exists(root + "/20261105"));

    // The clock set back: the new day sorts first and still stays.
    clock->setNow(QDateTime(QDate(2026, 10, 1), QTime(8, 0)));
    c2m->add_map_actqueue(src, "c", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QVERIFY(QFileInfo::exists(root + "/20261001/camera1/detect1/NG/c.jpg"));
    QVERIFY(!QFileInfo::exists(root + "/20261106"));
    QVERIFY(QFileInfo::exists(root + "/20261107"));
}

void TstRecordsUsb::dayFolderNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces") << "0 day folder";
    QTest::newRow("quotes") << "0'quo\"ted";
    QTest::newRow("semicolon") << "0;rm -rf ..;";
    QTest::newRow("dollar") << "$(touch pwned)";
    QTest::newRow("backticks") << "0`touch pwned`";
    QTest::newRow("leading dash") << "-rf";
    QTest::newRow("newline") << "0\n..";
    QTest::newRow("link off the drive") << "0link";
}

void TstRecordsUsb::dayFolderNames()
{
    QFETCH(QString, name);
    DiskManager m;
    const SimDrive u = stick(17, "sdb1", "U");
    Copy2MoveDisk* c2m = useDrive(m, u);
    QVERIFY(c2m);
    c2m->setDays(2);
    const QString root = driveFile(u, "monitor_U");
    const QString off = env->simRoot() + "/offdrive";
    QVERIFY(env->writeSimFile("/offdrive/sentinel", "x"));
    QVERIFY(env->writeSimFile("/sentinel", "x"));
    QVERIFY(env->writeWorkFile("sentinel", "x"));
    QVERIFY(QDir().mkpath(root + "/20261203"));
    QVERIFY(QDir().mkpath(root + "/20261204"));
    QVERIFY(QFile(root + "/20261204/keep").open(QIODevice::WriteOnly));
    if (name == "0link")
        QVERIFY(QFile::link(off, root + "/" + name));
    else
        QVERIFY(QDir().mkpath(root + "/" + name + "/x"));

    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect1/NG", "img", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden, QDir::Name),
             (QStringList{"20261203", "20261204", "20261205"}));
    QVERIFY(QFileInfo::exists(root + "/20261204/keep"));
    QVERIFY(QFileInfo::exists(off + "/sentinel"));
    QVERIFY(QFileInfo::exists(env->simRoot() + "/sentinel"));
    QVERIFY(QFileInfo::exists(env->workDir() + "/sentinel"));
    QCOMPARE(filesBelow(env->simRoot(), "pwned") + filesBelow(env->workDir(), "pwned"), QStringList());
}

void TstRecordsUsb::pulledDrive_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("pulled as udev reports it") << "udev";
    QTest::newRow("medium gone under its mount") << "medium";
    QTest::newRow("mount point taken by FindAU") << "findau";
}

void TstRecordsUsb::pulledDrive()
{
    QFETCH(QString, how);
    DiskManager m;
    SimDrive a = stick(17, "sdb1", "AAAA"), other = stick(33, "sdc1", "BBBB");
    QVERIFY(a.plug());
    QVERIFY(m.pollOnce());
    Copy2MoveDisk* c2m = Copy2MoveDisk::getInstance();
    QSignalSpy state(c2m, &Copy2MoveDisk::diskStateChange);
    connect(&m, &DiskManager::diskInfoChange, c2m, &Copy2MoveDisk::diskInfoChange, Qt::DirectConnection);
    c2m->diskInfoChange(m.drivesCopy());
    c2m->start(false);
    SaveFialImageThread w;
    startWriter(w);
    auto saveSome = [&](int n) {
        for (int i = 0; i < n; ++i) {
            fillSlot(0, i % 2, 0, frame(64, 48, kBlue));
            QCOMPARE(w.passOnce(), 1);
        }
    };
    saveSome(4);
    QVERIFY(c2m->writeOnce()); // one on the drive, three waiting
    QCOMPARE(c2m->queuedCount(), 3);

    if (how == "udev") {
        a.pull();
        QVERIFY(m.pollOnce());
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), false);
        QCOMPARE(countLines("umount /dev/sdb1"), 1);
    } else if (how == "medium") {
        QVERIFY(QDir(a.medium()).removeRecursively());
    } else {
        QVERIFY(QDir().mkpath(other.medium()));
        QVERIFY(env->writeSimFile("/cmd/blkid.out", "/dev/sda2: UUID=\"S\" TYPE=\"ext4\"\n"
                                                    "/dev/sdc1: UUID=\"BBBB\" TYPE=\"vfat\"\n"));
        QCOMPARE(FindAU(), QString("/mnt"));
        QVERIFY(isMountedAt("/dev/sdc1", "/mnt"));
    }
    saveSome(3);
    for (int i = 0; i < 8; ++i)
        QVERIFY(!c2m->writeOnce());

    // Nothing on the system disk's /mnt, nothing on the other drive; every
    // image is in ./alarmimage; what reached the drive is whole.
    const QFileInfo mnt(env->simRoot() + "/mnt");
    if (!mnt.isSymLink())
        QCOMPARE(QDir(mnt.filePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QCOMPARE(filesBelow(other.medium()), QStringList());
    QCOMPARE(filesBelow(env->workDir() + "/alarmimage", "*.jpg").size(), 6); // 2 folders, limit 3
    QCOMPARE(shots.size(), 7);
    for (const QString& f : filesBelow(a.medium()))
        QVERIFY2(f.endsWith(".jpg") && !cv::imread(f.toStdString()).empty(), qPrintable(f));

    // Plugged in again: written to.
    if (how != "udev") {
        a.pull();
        QVERIFY(m.pollOnce());
    }
    QVERIFY(a.plug());
    QVERIFY(m.pollOnce());
    QCOMPARE(c2m->deviceId(), QString("AAAA"));
    QCOMPARE(state.last().at(0).toBool(), true);
    saveSome(1);
    QVERIFY(c2m->writeOnce());
    QCOMPARE(filesBelow(a.medium(), "*.jpg").size(), 1);
}

void TstRecordsUsb::diskFull()
{
    SaveFialImageThread w;
    startWriter(w);
    const QString ng = w.resultFolder(0, 0, 0);
    QVERIFY(QDir().mkpath(ng));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(env->writeWorkFile(QString("alarmimage/camera1/detect1/NG/old%1.jpg").arg(i), "jpeg"));
        QFile f(ng + QString("/old%1.jpg").arg(i));
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTime().addSecs(-100 + i), QFileDevice::FileModificationTime);
    }

    // Local disk full (file-size limit): nothing pruned, nothing handed on.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 200;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    fillSlot(0, 0, 0, frame(64, 48, kBlue), 4);
    const int savedWhileFull = w.passOnce();
    const int secondTry = w.passOnce();
    setrlimit(RLIMIT_FSIZE, &old);
    QCOMPARE(savedWhileFull + secondTry, 0);
    QCOMPARE(shots.size(), 0);
    QCOMPARE(jpgsIn(ng), (QStringList{"old0.jpg", "old1.jpg", "old2.jpg"}));
    QCOMPARE(filesBelow(ng, "*.tmp"), QStringList());
    // Space back: the waiting image is saved, the oldest makes room.
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(shots.size(), 1);
    QVERIFY(QFileInfo::exists(shots[0].path));
    QVERIFY(shots[0].path.contains("/4_2026-12-05_"));
    QCOMPARE(jpgsIn(ng).size(), 3);
    QVERIFY(!jpgsIn(ng).contains("old0.jpg"));

    // A full drive gives up its oldest day that is not today's.
    DiskManager m;
    const SimDrive u = stick(17, "sdb1", "U");
    Copy2MoveDisk* c2m = useDrive(m, u);
    QVERIFY(c2m);
    const QString root = driveFile(u, "monitor_U");
    for (const char* d : {"20261201", "20261202", "20261205"})
        QVERIFY(QDir().mkpath(root + "/" + d + "/camera1/detect1/NG"));
    c2m->setFileWriter([&](const QString& path, const QByteArray& bytes, int* err) {
        if (QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 2) {
            *err = ENOSPC;
            return false;
        }
        return Copy2MoveDisk::writeFileAtomic(path, bytes, true, err);
    });
    const QString src = env->workDir() + "/alarmimage/camera1/detect1/NG";
    c2m->add_map_actqueue(src, "full", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
             (QStringList{"20261202", "20261205"}));
    QVERIFY(QFileInfo::exists(root + "/20261205/camera1/detect1/NG/full.jpg"));
    c2m->add_map_actqueue(src, "next", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
}

void TstRecordsUsb::writerNamesPruneAndPairs()
{
    SaveFialImageThread w;
    startWriter(w);
    const QString ng = w.resultFolder(0, 1, 0), ok = w.resultFolder(0, 1, 1);
    QCOMPARE(ng, QDir::cleanPath(env->workDir() + "/alarmimage/camera1/detect2/NG"));

    // An OK image alone, no ROI number: the time alone names it.
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(jpgsIn(ok), QStringList{"2026-12-05_15.50.39.jpg"});
    QVERIFY(near(cornerOf(ok + "/2026-12-05_15.50.39.jpg"), kGreen));
    QCOMPARE(shots.last().ok, true);

    // Limit 3, five files (two of one time): the new one and the two newest
    // stay, equal times by name.
    QVERIFY(QDir().mkpath(ng));
    const QDateTime base = QDateTime::currentDateTime().addSecs(-500);
    const QList<QPair<QString, int>> old{{"e.jpg", 0}, {"d.jpg", 10}, {"c.jpg", 20}, {"b.jpg", 30}, {"a.jpg", 30}};
    for (const auto& o : old) {
        QFile f(ng + "/" + o.first);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.setFileTime(base.addSecs(o.second), QFileDevice::FileModificationTime);
    }
    fillSlot(0, 1, 0, frame(64, 48, kRed), 2);
    QCOMPARE(w.passOnce(), 1);
    const QString named = "2_" + clock->now().addMSecs(-300).toString("yyyy-MM-dd_hh.mm.ss") + ".jpg";
    QCOMPARE(jpgsIn(ng), (QStringList{named, "a.jpg", "b.jpg"}));
    QCOMPARE(gFailIndex[0][1], 0);
    QCOMPARE(shots.last().ok, false);

    // Both slots: NG first, then the OK image into the NG folder a second
    // later. An NG image composed meanwhile keeps its ROI number.
    for (const QString& f : jpgsIn(ng))
        QFile::remove(ng + "/" + f);
    shots.clear();
    gPicNumNG = 10;
    fillSlot(0, 1, 0, frame(64, 48, kRed), 3);
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    w.setPictureSink([this](int c, int d, bool isOk, const QString& p) {
        shots.append({c, d, isOk, p});
        if (shots.size() == 1) {
            QMutexLocker lock(pMutexSaveFail);
            gFailIndex[0][1] = 7;
        }
    });
    const QDateTime t0 = clock->now();
    QCOMPARE(w.passOnce(), 2);
    QCOMPARE(shots.size(), 2);
    QCOMPARE(shots[0].ok, false);
    QCOMPARE(shots[1].ok, true);
    QCOMPARE(shots[0].path, ng + "/3_" + t0.toString("yyyy-MM-dd_hh.mm.ss") + ".jpg");
    QCOMPARE(shots[1].path, ng + "/3_" + t0.addSecs(1).toString("yyyy-MM-dd_hh.mm.ss") + ".jpg");
    QVERIFY(near(cornerOf(shots[0].path), kRed));
    QVERIFY(near(cornerOf(shots[1].path), kGreen));
    QCOMPARE(jpgsIn(ok).size(), 1);
    QCOMPARE(gFailIndex[0][1], 7);

    // A name taken in the same second moves to the next second.
    gFailIndex[0][1] = 0;
    QFile taken(ok + "/" + clock->now().toString("yyyy-MM-dd_hh.mm.ss") + ".jpg");
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.write("mine");
    taken.close();
    const QDateTime before = clock->now();
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(shots.last().path, ok + "/" + before.addSecs(1).toString("yyyy-MM-dd_hh.mm.ss") + ".jpg");
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QCOMPARE(taken.readAll(), QByteArray("mine"));
}

void TstRecordsUsb::writerSlotRules()
{
    SaveFialImageThread w;
    startWriter(w);
    // Only an OK image: the ROI number is left for the NG image it belongs to.
    fillSlot(0, 0, 1, frame(64, 48, kGreen), 5);
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(gFailIndex[0][0], 5);
    QVERIFY(QFileInfo(shots.last().path).fileName().startsWith("5_"));

    // A slot of the wrong size is skipped and logged, never copied.
    {
        QMutexLocker lock(pMutexSaveFail);
        gpFailImage[0][1][0].allocate(100);
        gisSaveFail[0][1][0] = true;
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("slot of camera 1 detection 2 slot 0 holds 100 bytes"));
    QCOMPARE(w.passOnce(), 0);
    QCOMPARE(gisSaveFail[0][1][0], false);
    QVERIFY(!QFileInfo::exists(w.resultFolder(0, 1, 0)) || jpgsIn(w.resultFolder(0, 1, 0)).isEmpty());

    // Detections and cameras outside the counts are not looked at.
    fillSlot(0, 2, 0, frame(64, 48, kRed));
    fillSlot(1, 0, 0, frame(64, 48, kRed));
    QCOMPARE(w.passOnce(), 0);
    QVERIFY(gisSaveFail[0][2][0] && gisSaveFail[1][0][0]);
    gisSaveFail[0][2][0] = gisSaveFail[1][0][0] = false;

    // A thread that runs and stops on request.
    w.start();
    w.requestStop();
    QVERIFY(w.wait(10000));
}

void TstRecordsUsb::slowDriveAndPool()
{
    DiskManager m;
    const SimDrive u = stick(17, "sdb1", "U");
    Copy2MoveDisk* c2m = useDrive(m, u);
    QVERIFY(c2m);
    c2m->stop();
    QSemaphore entered, release;
    c2m->setFileWriter([&](const QString& path, const QByteArray& bytes, int* err) {
        entered.release();
        release.acquire();
        return Copy2MoveDisk::writeFileAtomic(path, bytes, true, err);
    });
    SaveFialImageThread w;
    startWriter(w);
    c2m->start();
    fillSlot(0, 0, 0, frame(64, 48, kRed));
    QCOMPARE(w.passOnce(), 1);
    QVERIFY(entered.tryAcquire(1, 10000)); // the drive task is stuck in a write
    // The local writer goes on at its own pace.
    for (int i = 0; i < 5; ++i) {
        fillSlot(0, i % 2, 1, frame(64, 48, kGreen));
        QCOMPARE(w.passOnce(), 1);
    }
    QCOMPARE(shots.size(), 6);
    release.release(100);
    c2m->stop();
    c2m->setFileWriter(nullptr);

    // Both endless loops running, a pool of two still runs a job.
    Clock::install(nullptr);
    QThreadPool* pool = QThreadPool::globalInstance();
    const int oldMax = pool->maxThreadCount();
    pool->setMaxThreadCount(2);
    m.start();
    c2m->start();
    QSemaphore ran;
    QFuture<void> job = QtConcurrent::run([&ran] { ran.release(); });
    const bool jobRan = ran.tryAcquire(1, 10000);
    job.waitForFinished();
    c2m->stop();
    m.stop();
    pool->setMaxThreadCount(oldMax);
    Clock::install(clock);
    QVERIFY(jobRan);
}

QTEST_GUILESS_MAIN(TstRecordsUsb)
#include "tst_records_usb.moc"
