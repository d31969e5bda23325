// Result images and USB storage on the simulated platform: real udev files,
// links and mounts, real JPEG files read back through OpenCV, the test clock
// for every pause.
#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/clock.h"
#include "frame/findau.h"
#include "frame/globals.h"
#include "platform/commandrunner.h"
#include "records/copy2movedisk.h"
#include "records/diskmanager.h"
#include "records/savefialimagethread.h"
#include "simdrive.h"
#include "testsupport/testenv.h"

#include <QBuffer>
#include <QDirIterator>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

namespace {

struct Shot {
    int c, d;
    bool ok;
    QString path;
};

// A frame of the given colour with a white disc, made through OpenCV.
QImage frame(int w, int h, cv::Scalar bgr)
{
    cv::Mat m(h, w, CV_8UC3, bgr), bgra;
    cv::circle(m, cv::Point(w / 2, h / 2), h / 4, cv::Scalar(255, 255, 255), -1);
    cv::cvtColor(m, bgra, cv::COLOR_BGR2BGRA);
    return QImage(bgra.data, w, h, int(bgra.step), QImage::Format_RGB32).copy();
}

// The JPEG file decodes and its corner has the colour given.
bool colourIs(const QString& path, cv::Scalar bgr)
{
    const cv::Mat m = cv::imread(path.toStdString());
    if (m.empty())
        return false;
    const cv::Vec3b px = m.at<cv::Vec3b>(2, 2);
    for (int i = 0; i < 3; ++i)
        if (std::abs(int(px[i]) - int(bgr[i])) > 12)
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

QStringList mountCommands()
{
    return CommandRunner::loggedCommands().filter(QRegularExpression("^mount "));
}

void setMTime(const QString& path, const QDateTime& t)
{
    QFile f(path);
    f.open(QIODevice::ReadWrite); // made when missing
    f.setFileTime(t, QFileDevice::FileModificationTime);
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

    void driveManager();
    void startUpAndSixthDrive();
    void usbLayoutQueueAndChoice();
    void dayFolders();
    void dayFolderNames_data();
    void dayFolderNames();
    void linksOnTheDrive_data();
    void linksOnTheDrive();
    void unfinishedFilesOfAKilledWrite();
    void pulledDrive_data();
    void pulledDrive();
    void diskFull();
    void resultWriter();
    void slowDriveAndPool();
    void endPutsEveryImageOnTheStick();

private:
    SimDrive stick(int minor, const QString& dev, const QString& uuid) const
    {
        return {env->simRoot(), minor, dev, uuid};
    }
    // Plugs the stick u, lets the manager mount it and the writer take it;
    // the test drives the writer's passes.
    bool useDrive(DiskManager& m)
    {
        u = stick(17, "sdb1", "U");
        if (!u.plug() || !m.pollOnce())
            return false;
        c2m->diskInfoChange(m.drivesCopy());
        c2m->start(false);
        return true;
    }
    QString driveFile(const SimDrive& s, const QString& rel) const { return s.medium() + "/" + rel; }
    void startWriter(SaveFialImageThread& w)
    {
        w.setCameraSize([](int) { return QSize(64, 48); });
        w.setPictureSink([this](int c, int d, bool ok, const QString& p) { shots.append({c, d, ok, p}); });
    }

    TestEnv* env = nullptr;
    TestClock* clock = nullptr;
    Copy2MoveDisk* c2m = nullptr;
    QList<Shot> shots;
    SimDrive u;
};

void TstRecordsUsb::initTestCase()
{
    c2m = Copy2MoveDisk::getInstance();
}

void TstRecordsUsb::init()
{
    env = new TestEnv(false);
    clock = new TestClock(QDateTime(QDate(2026, 12, 5), QTime(15, 50, 39)));
    Clock::install(clock);
    env->writeSimFile("/proc/mounts", "/dev/sda2 / ext4 rw,relatime 0 0\n"); // the panel's own disk
    shots.clear();
    numCamera = 1;
    gDNum = 2;
    gPicNumNG = gPicNumOK = 3;
}

void TstRecordsUsb::cleanup()
{
    c2m->stop();
    c2m->setFileWriter(nullptr);
    c2m->setDays(31);
    c2m->diskInfoChange({});
    c2m->writeOnce(); // no drive: empties the queue
    Clock::install(nullptr);
    delete clock;
    delete env;
}

void TstRecordsUsb::driveManager()
{
    DiskManager m;
    QSignalSpy spy(&m, &DiskManager::diskInfoChange);
    QVERIFY(SimDrive::plugWholeDisk(env->simRoot(), 16));
    SimDrive a = stick(17, "sdb1", "1111-AAAA"), b = stick(33, "sdc1", "2222-BBBB");
    a.label = "STICK";
    QVERIFY(a.plug() && b.plug());

    // Two new sticks in one pass: the greater UUID gets /mnt, one signal.
    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 1);
    const auto list = spy.at(0).at(0).value<QVector<UPanInfo>>();
    QCOMPARE(list.size(), 2);
    const UPanInfo stickA{"1111-AAAA", {}, "STICK", "/dev/sdb1", {}, "usb", "/mnt0"};
    QCOMPARE(m.get_mountDisk("1111-AAAA"), stickA);
    QCOMPARE(m.get_mountDisk("2222-BBBB").mountPath, QString("/mnt"));
    QCOMPARE(mountCommands(), (QStringList{"mount /dev/sdc1 /mnt", "mount /dev/sdb1 /mnt0"}));
    QVERIFY(m.ignoredEntries.contains("b8:16")); // the whole-disk entry

    // A stick whose mount fails leaves the list silently and is tried again.
    SimDrive c = stick(49, "sdd1", "3333-CCCC");
    QVERIFY(c.plug(false));
    QVERIFY(!m.pollOnce());
    QVERIFY(!m.pollOnce());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(countLines("mount /dev/sdd1 /mnt1"), 2);
    QVERIFY(QDir().mkpath(c.medium()));
    QVERIFY(m.pollOnce());
    QCOMPARE(m.getMountPath(), (QStringList{"/mnt0", "/mnt", "/mnt1"})); // list order

    // Pulled: unmounted and reported with the others.
    b.pull();
    QVERIFY(m.pollOnce());
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.last().at(0).value<QVector<UPanInfo>>().size(), 2);
    QVERIFY(!isMountedAt("/dev/sdc1", "/mnt"));
}

void TstRecordsUsb::startUpAndSixthDrive()
{
    // In at start-up, the system disk known from "/": the stick is used.
    SimDrive a = stick(17, "sdb1", "AAAA-0001");
    QVERIFY(a.plug());
    {
        DiskManager m;
        QVERIFY(m.ignoredEntries.isEmpty() && m.pollOnce());
    }
    // Known only from its ext4 partition; then not known at all, when
    // whatever is in at start-up is left alone.
    env->writeSimFile("/proc/mounts", "");
    SimDrive sys = stick(2, "sda2", "SYS-EXT4");
    sys.fsType = "ext4";
    QVERIFY(sys.plug(false));
    {
        DiskManager m;
        QCOMPARE(m.ignoredEntries, QStringList{"b8:2"});
        QVERIFY(m.pollOnce());
    }
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
    const int mountsBefore = mountCommands().size();
    QList<SimDrive> six;
    for (int i = 0; i < 6; ++i) {
        six << stick(17 + 16 * i, QString("sd") + QChar('b' + i) + "1", QString("UU-%1").arg(i));
        QVERIFY(six.last().plug());
    }
    QVERIFY(m.pollOnce());
    const QStringList paths = m.getMountPath();
    QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), 5);
    QCOMPARE(m.get_mountDisk("UU-0").mountPath, QString()); // the smallest UUID waits
    QCOMPARE(mountCommands().size(), mountsBefore + 5);
    const QString freed = m.get_mountDisk("UU-3").mountPath;
    six[3].pull();
    QVERIFY(m.pollOnce());
    QCOMPARE(m.get_mountDisk("UU-0").mountPath, freed);
}

void TstRecordsUsb::usbLayoutQueueAndChoice()
{
    DiskManager m;
    QVERIFY(useDrive(m));
    const QString src = env->workDir() + "/alarmimage/camera2/detect1/NG";
    c2m->add_map_actqueue(src, "2026-12-05_15.50.39", frame(64, 48, kBlue));
    QVERIFY(c2m->writeOnce());
    const QString dir = "monitor_U/20261205/camera2/detect1/NG/";
    QVERIFY(colourIs(env->simRoot() + "/mnt/" + dir + "2026-12-05_15.50.39.jpg", kBlue));

    // At most 11 wait; the same path keeps the later image.
    for (int i = 0; i < 12; ++i)
        c2m->add_map_actqueue(src, QString("n%1").arg(i, 2, 10, QChar('0')), frame(32, 24, kRed));
    QCOMPARE(c2m->queuedCount(), 11);
    QVERIFY(c2m->writeOnce());
    c2m->add_map_actqueue(src, "n11", frame(32, 24, kRed));
    QCOMPARE(c2m->queuedCount(), 11);
    while (c2m->writeOnce()) {
    }
    c2m->add_map_actqueue(src, "same", frame(32, 24, kRed));
    c2m->add_map_actqueue(src, "same", frame(32, 24, kGreen));
    QVERIFY(c2m->writeOnce() && !c2m->writeOnce());
    QVERIFY(colourIs(driveFile(u, dir + "same.jpg"), kGreen));
    QCOMPARE(jpgsIn(driveFile(u, dir)).size(), 14);

    // Choosing the drive; a signal only when one comes into use or none is left.
    QSignalSpy spy(c2m, &Copy2MoveDisk::diskStateChange);
    const UPanInfo a{"A", {}, {}, "/dev/sdb1", {}, "usb", "/mnt"}, b{"B", {}, {}, "/dev/sdc1", {}, "usb", "/mnt0"};
    UPanInfo aMoved = a;
    aMoved.mountPath = "/mnt1";
    c2m->diskInfoChange({});
    c2m->diskInfoChange({UPanInfo{"C", {}, {}, "/dev/sdd1", {}, "usb", {}}}); // not mounted: not usable
    c2m->diskInfoChange({a});
    c2m->diskInfoChange({b, a}); // the drive in use stays
    QCOMPARE(c2m->deviceId(), QString("A"));
    c2m->diskInfoChange({aMoved}); // remounted elsewhere: followed
    QCOMPARE(c2m->prepath(), QString("/mnt1"));
    c2m->diskInfoChange({b}); // another drive takes its place
    QCOMPARE(c2m->prepath() + c2m->deviceId(), QString("/mnt0B"));
    c2m->diskInfoChange({});
    QCOMPARE(QList<QList<QVariant>>(spy.begin(), spy.end()), (QList<QList<QVariant>>{{false}, {true}, {false}}));
    // Stopped: the drive is tracked, nothing is queued or signalled.
    c2m->stop();
    c2m->diskInfoChange({a});
    c2m->add_map_actqueue(src, "x", frame(8, 8, kRed));
    QCOMPARE(c2m->prepath(), QString("/mnt"));
    QCOMPARE(c2m->queuedCount() + spy.count(), 3);
}

void TstRecordsUsb::dayFolders()
{
    DiskManager m;
    QVERIFY(useDrive(m));
    const QString root = driveFile(u, "monitor_U");
    for (QDate day(2026, 11, 5); day < QDate(2026, 12, 5); day = day.addDays(1))
        QVERIFY(QDir().mkpath(root + "/" + day.toString("yyyyMMdd") + "/camera1/detect1/NG"));
    const QString src = env->workDir() + "/alarmimage/camera1/detect1/NG";
    const auto days = [&root] { return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); };

    // days 31, 30 old folders and a new day: all 31 stay.
    c2m->add_map_actqueue(src, "a", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(days().size(), 31);
    QCOMPARE(days().first() + days().last(), QString("2026110520261205"));

    // One more old folder, and a new folder made: the oldest goes.
    QVERIFY(QDir().mkpath(root + "/20261104/camera1/detect1/NG"));
    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect3/NG", "a", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(days().size(), 31);
    QCOMPARE(days().first() + days().last(), QString("2026110520261205"));

    // days 0 counts as 1; today's folder stays, one old folder per new one.
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
    QTest::newRow("quotes") << "0'quo\"ted";
    QTest::newRow("dollar") << "$(touch pwned)";
    QTest::newRow("leading dash") << "-rf";
    QTest::newRow("newline") << "0\n..";
    QTest::newRow("link off the drive") << "0link";
}

void TstRecordsUsb::dayFolderNames()
{
    QFETCH(QString, name);
    DiskManager m;
    QVERIFY(useDrive(m));
    c2m->setDays(2);
    const QString root = driveFile(u, "monitor_U");
    const QString off = env->simRoot() + "/offdrive";
    const QStringList kept{off + "/sentinel", env->simRoot() + "/sentinel", env->workDir() + "/sentinel",
                           root + "/20261203/keep", root + "/20261204/keep"};
    for (const QString& f : kept)
        QVERIFY(QDir().mkpath(QFileInfo(f).path()) && QFile(f).open(QIODevice::WriteOnly));
    if (name == "0link")
        QVERIFY(QFile::link(off, root + "/" + name));
    else
        QVERIFY(QDir().mkpath(root + "/" + name + "/x"));

    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect1/NG", "img", frame(16, 16, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden, QDir::Name),
             (QStringList{"20261203", "20261204", "20261205"}));
    for (const QString& f : kept)
        QVERIFY2(QFileInfo::exists(f), qPrintable(f));
    QCOMPARE(filesBelow(env->simRoot(), "pwned") + filesBelow(env->workDir(), "pwned"), QStringList());
}

void TstRecordsUsb::linksOnTheDrive_data()
{
    QTest::addColumn<QString>("link"); // below the drive's root, pointing off the drive
    QTest::newRow("drive folder") << "monitor_U";
    QTest::newRow("day folder") << "monitor_U/20261205";
    QTest::newRow("camera folder") << "monitor_U/20261205/camera1";
    QTest::newRow("kind folder") << "monitor_U/20261205/camera1/detect1/NG";
    QTest::newRow("temporary file") << "monitor_U/20261205/camera1/detect1/NG/.img.jpg.tmp";
    QTest::newRow("image file") << "monitor_U/20261205/camera1/detect1/NG/img.jpg";
}

// A link on the drive never takes a write, a folder or a prune off the drive.
void TstRecordsUsb::linksOnTheDrive()
{
    QFETCH(QString, link);
    DiskManager m;
    QVERIFY(useDrive(m));
    c2m->setDays(1);
    const QString off = env->simRoot() + "/offdrive";
    // The link's target holds old "day folders" and a file of its own.
    for (const char* d : {"20200101/x", "20200102/x", "20200103/x"})
        QVERIFY(QDir().mkpath(off + "/" + d));
    QFile own(off + "/own.jpg");
    QVERIFY(own.open(QIODevice::WriteOnly) && own.write("mine") == 4);
    own.close();
    const QString at = driveFile(u, link);
    QVERIFY(QDir().mkpath(QFileInfo(at).path()));
    QVERIFY(QFile::link(link.endsWith(".tmp") || link.endsWith(".jpg") ? off + "/own.jpg" : off, at));
    auto offState = [&] {
        QStringList out;
        QDirIterator it(off, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next() + ":" + QString::number(it.fileInfo().size());
        out.sort();
        return out;
    };
    const QStringList before = offState();

    const QString src = env->workDir() + "/alarmimage/camera1/detect1/NG";
    for (int i = 0; i < 3; ++i) {
        clock->setNow(QDateTime(QDate(2026, 12, 5 + i), QTime(10, 0)));
        c2m->add_map_actqueue(src, "img", frame(64, 48, kRed));
        c2m->writeOnce();
        // A link standing for the image itself is replaced by the image, on the drive.
        if (i == 0 && link.endsWith("img.jpg"))
            QVERIFY(colourIs(at, kRed) && !QFileInfo(at).isSymLink());
    }
    QCOMPARE(offState(), before);
    QFile back(off + "/own.jpg");
    QVERIFY(back.open(QIODevice::ReadOnly) && back.readAll() == "mine");
}

// A write killed on the drive leaves its hidden temporary file: the writer
// removes such files when it takes the drive, and nothing else.
void TstRecordsUsb::unfinishedFilesOfAKilledWrite()
{
    u = stick(17, "sdb1", "U");
    const QString ng = u.medium() + "/monitor_U/20261201/camera1/detect1/NG";
    const QString off = env->simRoot() + "/offdrive.jpg";
    QVERIFY(QDir().mkpath(ng));
    for (const QString& f : {ng + "/.a.jpg.tmp", ng + "/b.jpg", ng + "/c.jpg.tmp", off}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("half") == 4);
    }
    QVERIFY(QFile::link(off, ng + "/.d.jpg.tmp"));
    DiskManager m;
    QVERIFY(useDrive(m));
    c2m->add_map_actqueue(env->workDir() + "/alarmimage/camera1/detect1/NG", "new", frame(64, 48, kRed));
    QVERIFY(c2m->writeOnce());
    QCOMPARE(QDir(ng).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name),
             (QStringList{"b.jpg", "c.jpg.tmp"}));
    QVERIFY(QFileInfo(off).size() == 4);
    QCOMPARE(filesBelow(u.medium(), "*.tmp"), QStringList{ng + "/c.jpg.tmp"});
    // The same for the result folders, when the result-image writer starts.
    SaveFialImageThread w;
    startWriter(w);
    const QString local = w.resultFolder(0, 0, 1) + "/.e.jpg.tmp";
    QVERIFY(QDir().mkpath(QFileInfo(local).path()) && QFile(local).open(QIODevice::WriteOnly));
    w.start();
    QTRY_VERIFY(!QFileInfo::exists(local));
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
    const SimDrive other = stick(33, "sdc1", "BBBB");
    QVERIFY(useDrive(m));
    QSignalSpy state(c2m, &Copy2MoveDisk::diskStateChange);
    connect(&m, &DiskManager::diskInfoChange, c2m, &Copy2MoveDisk::diskInfoChange, Qt::DirectConnection);
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
        u.pull();
        QVERIFY(m.pollOnce());
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), false);
        QCOMPARE(countLines("umount /dev/sdb1"), 1);
    } else if (how == "medium") {
        QVERIFY(QDir(u.medium()).removeRecursively());
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
    for (const QString& f : filesBelow(u.medium()))
        QVERIFY2(f.endsWith(".jpg") && !cv::imread(f.toStdString()).empty(), qPrintable(f));

    // Plugged in again: written to.
    if (how != "udev") {
        u.pull();
        QVERIFY(m.pollOnce());
    }
    QVERIFY(u.plug());
    QVERIFY(m.pollOnce());
    QCOMPARE(c2m->deviceId(), QString("U"));
    QCOMPARE(state.last().at(0).toBool(), true);
    saveSome(1);
    QVERIFY(c2m->writeOnce());
    QCOMPARE(filesBelow(u.medium(), "*.jpg").size(), 1);
}

void TstRecordsUsb::diskFull()
{
    SaveFialImageThread w;
    startWriter(w);
    const QString ng = w.resultFolder(0, 0, 0);
    QVERIFY(QDir().mkpath(ng));
    for (int i = 0; i < 3; ++i)
        setMTime(ng + QString("/old%1.jpg").arg(i), QDateTime::currentDateTime().addSecs(-100 + i));

    // Local disk full (a file-size limit holds for root too): nothing pruned,
    // nothing handed on, the image waits.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 200;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    fillSlot(0, 0, 0, frame(64, 48, kBlue), 4);
    const int savedWhileFull = w.passOnce() + w.passOnce();
    setrlimit(RLIMIT_FSIZE, &old);
    QCOMPARE(savedWhileFull + shots.size(), 0);
    QCOMPARE(jpgsIn(ng), (QStringList{"old0.jpg", "old1.jpg", "old2.jpg"}));
    QCOMPARE(filesBelow(ng, "*.tmp"), QStringList());
    // Space back: the waiting image is saved, the oldest makes room.
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(shots.size(), 1);
    QVERIFY(colourIs(shots[0].path, kBlue));
    QVERIFY(shots[0].path.contains("/4_2026-12-05_"));
    QCOMPARE(jpgsIn(ng).size(), 3);
    QVERIFY(!jpgsIn(ng).contains("old0.jpg"));

    // A full drive gives up its oldest day that is not today's.
    DiskManager m;
    QVERIFY(useDrive(m));
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
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), (QStringList{"20261202", "20261205"}));
    QVERIFY(QFileInfo::exists(root + "/20261205/camera1/detect1/NG/full.jpg"));
}

void TstRecordsUsb::resultWriter()
{
    SaveFialImageThread w;
    startWriter(w);
    const QString ng = w.resultFolder(0, 1, 0), ok = w.resultFolder(0, 1, 1);
    QCOMPARE(ng, QDir::cleanPath(env->workDir() + "/alarmimage/camera1/detect2/NG"));
    auto stamp = [](const QDateTime& t) { return t.toString("yyyy-MM-dd_hh.mm.ss"); };

    // An OK image alone: no ROI number, the time alone names it.
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(jpgsIn(ok), QStringList{"2026-12-05_15.50.39.jpg"});
    QVERIFY(colourIs(ok + "/2026-12-05_15.50.39.jpg", kGreen));
    QCOMPARE(shots.last().ok, true);
    // JPEG at the encoder's default quality, byte for byte as QImage::save writes it.
    QBuffer ref;
    QVERIFY(ref.open(QIODevice::WriteOnly) && frame(64, 48, kGreen).save(&ref, "JPG"));
    QFile saved(ok + "/2026-12-05_15.50.39.jpg");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), ref.data());

    // Limit 3, five files (two of one time): the new one and the two newest
    // stay, equal times by name; the ROI number prefixes the name and is spent.
    QVERIFY(QDir().mkpath(ng));
    const QDateTime base = QDateTime::currentDateTime().addSecs(-500);
    for (const auto& o : QList<QPair<QString, int>>{{"e", 0}, {"d", 10}, {"c", 20}, {"b", 30}, {"a", 30}})
        setMTime(ng + "/" + o.first + ".jpg", base.addSecs(o.second));
    QDateTime t = clock->now();
    fillSlot(0, 1, 0, frame(64, 48, kRed), 2);
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(jpgsIn(ng), (QStringList{"2_" + stamp(t) + ".jpg", "a.jpg", "b.jpg"}));
    QCOMPARE(gFailIndex[0][1], 0);
    QCOMPARE(shots.last().ok, false);

    // Both slots: NG first, then the OK image into the NG folder a second
    // later. An NG image composed meanwhile keeps its ROI number.
    gPicNumNG = 10;
    shots.clear();
    fillSlot(0, 1, 0, frame(64, 48, kRed), 3);
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    w.setPictureSink([this](int c, int d, bool isOk, const QString& p) {
        shots.append({c, d, isOk, p});
        QMutexLocker lock(pMutexSaveFail);
        if (shots.size() == 1)
            gFailIndex[0][1] = 7;
    });
    t = clock->now();
    QCOMPARE(w.passOnce(), 2);
    QCOMPARE(QStringList({shots.value(0).path, shots.value(1).path}),
             QStringList({ng + "/3_" + stamp(t) + ".jpg", ng + "/3_" + stamp(t.addSecs(1)) + ".jpg"}));
    QVERIFY(!shots[0].ok && shots[1].ok);
    QVERIFY(colourIs(shots[0].path, kRed) && colourIs(shots[1].path, kGreen));
    QCOMPARE(jpgsIn(ok).size(), 1);
    QCOMPARE(gFailIndex[0][1], 7);
    // An OK image leaves the number of the NG image it does not carry.
    t = clock->now();
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(shots.last().path, ok + "/7_" + stamp(t) + ".jpg");
    QCOMPARE(gFailIndex[0][1], 7);

    // A name taken in the same second moves to the next second.
    gFailIndex[0][1] = 0;
    t = clock->now();
    QFile taken(ok + "/" + stamp(t) + ".jpg");
    QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write("mine") == 4);
    taken.close();
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    QCOMPARE(w.passOnce(), 1);
    QCOMPARE(shots.last().path, ok + "/" + stamp(t.addSecs(1)) + ".jpg");
    QVERIFY(taken.open(QIODevice::ReadOnly) && taken.readAll() == "mine");

    // A slot of the wrong size is skipped and logged; detections and
    // cameras outside the counts are not looked at.
    {
        QMutexLocker lock(pMutexSaveFail);
        gpFailImage[0][0][0].allocate(100);
        gisSaveFail[0][0][0] = true;
    }
    fillSlot(0, 2, 0, frame(64, 48, kRed));
    fillSlot(1, 0, 0, frame(64, 48, kRed));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("slot of camera 1 detection 1 slot 0 holds 100 bytes"));
    QCOMPARE(w.passOnce(), 0);
    QVERIFY(!gisSaveFail[0][0][0] && gisSaveFail[0][2][0] && gisSaveFail[1][0][0]);
}

void TstRecordsUsb::slowDriveAndPool()
{
    DiskManager m;
    QVERIFY(useDrive(m));
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

// The station ends while the stick is in the middle of a slow write and the
// result writer still holds images of both cameras and detections: when the
// end returns, every image is on the disk and, byte for byte, on the stick.
void TstRecordsUsb::endPutsEveryImageOnTheStick()
{
    DiskManager m;
    QVERIFY(useDrive(m));
    c2m->stop();
    QSemaphore entered, slow;
    // The stick's write lasts until the end has begun.
    c2m->setFileWriter([&](const QString& path, const QByteArray& bytes, int* err) {
        entered.release();
        slow.acquire();
        return Copy2MoveDisk::writeFileAtomic(path, bytes, true, err);
    });
    numCamera = 2;
    SaveFialImageThread w;
    startWriter(w);
    gpSaveFialImageThread = &w;
    // The end of the image writers alone: no window, no journal.
    MainState* state = std::exchange(gpWin, nullptr);
    const auto ended = qScopeGuard([&] {
        slow.release(100);
        gpSaveFialImageThread = nullptr;
        gpWin = state;
        StationExit::resetForTest();
    });
    c2m->start();
    w.start();
    fillSlot(0, 0, 0, frame(64, 48, kRed));
    QVERIFY(entered.tryAcquire(1, 10000));
    fillSlot(0, 1, 0, frame(64, 48, kRed));
    fillSlot(0, 1, 1, frame(64, 48, kGreen));
    fillSlot(1, 0, 1, frame(64, 48, kGreen));
    fillSlot(1, 1, 0, frame(64, 48, kBlue));
    StationExit::Hooks hooks;
    hooks.stopServing = [&] { slow.release(100); };
    QVERIFY(StationExit::run(StationExit::Exit, hooks));

    const QString local = env->workDir() + "/alarmimage/", stick = driveFile(u, "monitor_U/20261205/");
    QStringList saved, copied;
    for (const QString& f : filesBelow(local, "*.jpg"))
        saved << f.mid(local.size());
    for (const QString& f : filesBelow(stick))
        copied << f.mid(stick.size());
    saved.sort();
    copied.sort();
    QCOMPARE(saved.size(), 5);
    QCOMPARE(copied, saved);
    for (const QString& f : saved) {
        QFile a(local + f), b(stick + f);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY2(a.readAll() == b.readAll(), qPrintable(f));
    }
}

QTEST_GUILESS_MAIN(TstRecordsUsb)
#include "tst_records_usb.moc"
