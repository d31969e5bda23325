#include "inspection/viewimages.h"
#include "inspection_engine/enginerig.h"
#include "frame/messagetable.h"
#include "testsupport/glogcapture.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

class TstViewImages : public QObject
{
    Q_OBJECT
private slots:
    void resultImageSlotsIndexAndLabels();
    void readerNeverSeesHalfAnImage();
    void bmpRoundTripsAnyWidth();
    void damagedFilesStayInPlaceAndGiveNothing();
    void interruptedSavesLeaveOldOrNew();
    void fullDiskKeepsOldFile();
};

namespace {

cv::Mat pattern(int w, int h, int seed, int type = CV_8UC1)
{
    cv::Mat m(h, w, type);
    cv::RNG(uint64(seed)).fill(m, cv::RNG::UNIFORM, 0, 256);
    if (type == CV_8UC4) {
        std::vector<cv::Mat> ch;
        cv::split(m, ch);
        ch[3].setTo(255); // Qt's RGB32 stores x as 0xff
        cv::merge(ch, m);
    }
    return m;
}

bool sameBytes(const PixelBuffer& b, const cv::Mat& m)
{
    return b.size() >= m.total() * m.elemSize() && std::memcmp(b.data(), m.data, m.total() * m.elemSize()) == 0;
}

QRgb pixel(int camera, int d, int slot, int w, int x, int y)
{
    return reinterpret_cast<const QRgb*>(gpFailImage[camera][d][slot].data())[y * w + x];
}

// The child of the file tests, in the parent's working directory: with loop
// it saves the ignore mask of camera 1, detection 1 again and again,
// alternating between two patterns; without, it saves once with a file-size
// limit far below the mask's size and exits 0 when the save reported failure.
int saveChild(bool loop, int w, int h)
{
    if (!loop) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    const QString here = QDir::currentPath();
    // The parent kills this process mid-save, so nothing it makes in the
    // temporary folder is ever removed: make the rig's folders inside the
    // parent's working folder, which the parent removes.
    QDir().mkpath(here + "/child-tmp");
    qputenv("TMPDIR", QFile::encodeName(here + "/child-tmp"));
    EngineRig rig(w, h);
    QDir::setCurrent(here);
    ViewImages images(rig.view);
    rig.view.ignoreMasks[0].allocate(size_t(w * h));
    for (int i = 0;; ++i) {
        const cv::Mat m = pattern(w, h, loop ? 1 + (i & 1) : 9);
        std::memcpy(rig.view.ignoreMasks[0].data(), m.data, size_t(w * h));
        const bool saved = images.SaveIgnorePoint(0);
        if (!loop)
            return saved ? 1 : 0;
        if (i == 0)
            fprintf(stdout, "saving\n"), fflush(stdout);
    }
}

} // namespace

void TstViewImages::resultImageSlotsIndexAndLabels()
{
    for (int lan : {1, 0}) {
        gLan = lan;
        EngineRig rig(640, 480);
        rig.view.cameraIndex = 2;
        QVERIFY(ViewImages::AllocFailImageSlots(2, rig.view.pixelCount));
        cv::Mat f(480, 640, CV_8UC1, cv::Scalar(120));
        f(cv::Rect(300, 200, 12, 12)).setTo(10);
        f(cv::Rect(500, 300, 8, 8)).setTo(10);
        rig.addRect(1, 1, {40, 120, 160, 120}, 0, 10, 50 << 8); // OK
        rig.addRect(1, 1, {280, 180, 100, 100}, 0, 10, 50 << 8); // NG, the first
        rig.addRing(1, 1, {520, 320}, 60, 20, 0, 10, 50 << 8);   // NG as well
        rig.addRect(1, 7, {40, 300, 100, 100}, 200, 2 | (5 << 16), 0);
        rig.setFrame(f);
        rig.engine().VarTrain(1);
        rig.engine().Run(1);
        QVERIFY(!rig.view.isOK);
        gFailIndex[2][1] = 0;
        rig.win.safetyDoorInspection = true;
        ViewImages images(rig.view);
        images.SaveFailImage(1, 0);
        QCOMPARE(gFailIndex[2][1], 2);
        QCOMPARE(std::memcmp(gpFailImage[2][1][0].data(), rig.view.imageBits.data(), size_t(640 * 480 * 4)), 0);
        // Spot rectangles of the NG ROI are drawn red; the OK ROI's outline green.
        QCOMPARE(pixel(2, 1, 0, 640, 300, 205), qRgb(255, 0, 0));
        QCOMPARE(pixel(2, 1, 0, 640, 40, 180), qRgb(0, 255, 0));
        const QImage ng = QImage(gpFailImage[2][1][0].data(), 640, 480, QImage::Format_RGB32).copy();

        // The operator re-detected: the NG image is labelled and the state moves on.
        rig.win.alarmClearState[2][1] = 7;
        images.UpdateFailImage(1, 0);
        QCOMPARE(rig.win.alarmClearState[2][1], 8);
        const QImage labelled = QImage(gpFailImage[2][1][0].data(), 640, 480, QImage::Format_RGB32).copy();
        QVERIFY(labelled != ng);
        rig.view.isOK = true;
        images.SaveFailImage(1, 1);
        images.UpdateFailImage(1, 1);
        QCOMPARE(rig.win.alarmClearState[2][1], 10);
        // Outside 4..8 nothing is written and the state stays.
        const QImage ok = QImage(gpFailImage[2][1][1].data(), 640, 480, QImage::Format_RGB32).copy();
        images.UpdateFailImage(1, 1);
        QCOMPARE(rig.win.alarmClearState[2][1], 10);
        QVERIFY(QImage(gpFailImage[2][1][1].data(), 640, 480, QImage::Format_RGB32) == ok);

        const QString dir = TestEnv::buildDir() + "/render";
        QDir().mkpath(dir);
        const QString tag = lan == 1 ? "en" : "zh";
        QVERIFY(labelled.save(dir + "/result_ng_" + tag + ".png"));
        QVERIFY(ok.save(dir + "/result_ok_" + tag + ".png"));

        // A slot made for a smaller camera refuses the copy.
        gpFailImage[2][1][0].allocate(16);
        images.SaveFailImage(1, 0);
        QCOMPARE(int(gpFailImage[2][1][0].size()), 16);
    }
    gLan = 1;
}

void TstViewImages::readerNeverSeesHalfAnImage()
{
    EngineRig rig(320, 240);
    QVERIFY(ViewImages::AllocFailImageSlots(0, rig.view.pixelCount));
    ViewImages images(rig.view);
    const cv::Mat black(240, 320, CV_8UC1, cv::Scalar(0)), white(240, 320, CV_8UC1, cv::Scalar(255));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    QThread* reader = QThread::create([&] {
        std::vector<QRgb> copy(320 * 240);
        while (!stop) {
            {
                QMutexLocker lock(pMutexSaveFail);
                std::memcpy(copy.data(), gpFailImage[0][0][0].data(), copy.size() * 4);
            }
            if (copy.front() != copy.back())
                ++torn;
            ++reads;
        }
    });
    reader->start();
    for (int i = 0; i < 300 || reads < 50; ++i) {
        rig.setFrame(i & 1 ? white : black);
        images.SaveFailImage(0, 0);
    }
    stop = true;
    reader->wait();
    delete reader;
    QCOMPARE(torn.load(), 0);
}

void TstViewImages::bmpRoundTripsAnyWidth()
{
    for (bool colour : {false, true}) {
        for (int w : {640, 1282}) {
            EngineRig rig(w, 20, colour);
            rig.view.cameraIndex = 1;
            ViewImages images(rig.view);
            const cv::Mat frame = pattern(w, 20, w, colour ? CV_8UC4 : CV_8UC1);
            rig.setFrame(frame);
            QVERIFY(images.SaveReTrainImage(1)); // the missing folder is made
            const QImage file("./cammer22/template0.bmp");
            QCOMPARE(file.format(), colour ? QImage::Format_RGB32 : QImage::Format_Indexed8);
            std::memset(rig.view.templateImages[1][0].data(), 0, size_t(rig.view.frameBytes));
            rig.view.templateValid[1][0] = 0;
            QVERIFY(images.LoadTemplateImage(1, 0));
            QVERIFY(sameBytes(rig.view.templateImages[1][0], frame));
            QVERIFY(sameBytes(rig.view.workFrame, frame));
            if (colour)
                continue;
            rig.view.ignoreMasks[1].allocate(size_t(rig.view.pixelCount));
            std::memcpy(rig.view.ignoreMasks[1].data(), frame.data, size_t(rig.view.pixelCount));
            QVERIFY(images.SaveIgnorePoint(1));
            rig.view.ignoreMasks[1].release();
            images.LoadIgnorePoint();
            QVERIFY(sameBytes(rig.view.ignoreMasks[1], frame));
            QVERIFY(!QFile::exists("./cammer22/ignorepoint.bmp.damaged"));
        }
    }
}

void TstViewImages::damagedFilesStayInPlaceAndGiveNothing()
{
    EngineRig rig(64, 48);
    ViewImages images(rig.view);
    QDir().mkpath("cammer12");
    GlogCapture log;
    // Nothing ignored, the file stays where it is (the operator's to look
    // at or replace), said once.
    auto check = [&](const QString& why) {
        for (int load = 0; load < 2; ++load) {
            images.LoadIgnorePoint();
            QVERIFY2(rig.view.ignoreMasks[0].size() == size_t(64 * 48), qPrintable(why));
            QVERIFY2(cv::countNonZero(rig.mat(rig.view.ignoreMasks[0].data())) == 0, qPrintable(why));
        }
        QVERIFY2(!QFile::exists("cammer11/ignorepoint.bmp.damaged"), qPrintable(why));
        QVERIFY2(QFileInfo::exists("cammer11/ignorepoint.bmp"), qPrintable(why));
        QVERIFY2(log.count("cammer11/ignorepoint.bmp") == 1, qPrintable(why));
        QFile::remove("cammer11/ignorepoint.bmp.damaged");
        QFile::remove("cammer11/ignorepoint.bmp");
        log.clear();
    };
    QVERIFY(rig.env.writeWorkFile("cammer11/ignorepoint.bmp", "BM this is not a picture"));
    check("garbage");
    QImage other(65, 48, QImage::Format_Indexed8);
    other.setColorCount(256);
    other.fill(7);
    QVERIFY(other.save("cammer11/ignorepoint.bmp"));
    check("another size");
    QImage deep(64, 48, QImage::Format_RGB32);
    deep.fill(Qt::white);
    QVERIFY(deep.save("cammer11/ignorepoint.bmp"));
    check("32-bit");
    // A FIFO neither blocks the load nor is moved.
    QVERIFY(::mkfifo("cammer11/ignorepoint.bmp", 0644) == 0);
    check("fifo");
    // A template of another size: its slot stays empty, the file stays.
    QVERIFY(other.save("cammer12/template1.bmp"));
    QVERIFY(!images.LoadTemplateImage(1, 1) && !images.LoadTemplateImage(1, 1));
    QVERIFY(QFileInfo::exists("cammer12/template1.bmp") && !QFileInfo::exists("cammer12/template1.bmp.damaged"));
    QCOMPARE(log.count("cammer12/template1.bmp: 65x48, the camera gives 64x48"), 1);
    // (Damaged templates: the camera view's test, which loads them at start.)
    // Detection 2's missing file is simply nothing ignored.
    QVERIFY(!QFile::exists("cammer12/ignorepoint.bmp.damaged"));
}

void TstViewImages::interruptedSavesLeaveOldOrNew()
{
    TestEnv env;
    const int w = 1280, h = 1024;
    const cv::Mat a = pattern(w, h, 1), b = pattern(w, h, 2);
    QDir().mkpath("cammer11");
    for (int round = 0; round < 12; ++round) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--save-loop", QString::number(w), QString::number(h)});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(10000));
        // Spread the kill over about two save times.
        QThread::usleep(1000 + QRandomGenerator::global()->bounded(20000));
        child.kill();
        child.waitForFinished();
        const QImage img("cammer11/ignorepoint.bmp");
        QVERIFY2(!img.isNull() && img.width() == w && img.height() == h, qPrintable(QString("round %1").arg(round)));
        QImage g = img.convertToFormat(QImage::Format_Indexed8);
        cv::Mat got(h, w, CV_8UC1);
        for (int y = 0; y < h; ++y)
            std::memcpy(got.ptr(y), g.constScanLine(y), size_t(w));
        QVERIFY(cv::norm(got, a, cv::NORM_INF) == 0 || cv::norm(got, b, cv::NORM_INF) == 0);
    }
}

void TstViewImages::fullDiskKeepsOldFile()
{
    EngineRig rig(640, 480);
    ViewImages images(rig.view);
    rig.view.ignoreMasks[0].allocate(size_t(rig.view.pixelCount));
    const cv::Mat old = pattern(640, 480, 4);
    std::memcpy(rig.view.ignoreMasks[0].data(), old.data, old.total());
    QVERIFY(images.SaveIgnorePoint(0));
    auto bytes = [] {
        QFile f("cammer11/ignorepoint.bmp");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    QVERIFY(!before.isEmpty());
    const int rc = QProcess::execute(QCoreApplication::applicationFilePath(), {"--save-limited", "640", "480"});
    QCOMPARE(rc, 0); // the save returned false
    QVERIFY(bytes() == before);
}

int main(int argc, char** argv)
{
    if (argc == 4 && (!std::strcmp(argv[1], "--save-loop") || !std::strcmp(argv[1], "--save-limited"))) {
        QCoreApplication app(argc, argv);
        return saveChild(!std::strcmp(argv[1], "--save-loop"), atoi(argv[2]), atoi(argv[3]));
    }
    QGuiApplication app(argc, argv);
    MessageTable::load();
    gLan = 1;
    TstViewImages t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}
#include "tst_viewimages.moc"
