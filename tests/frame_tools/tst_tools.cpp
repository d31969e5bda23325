#include "frame/deviceid.h"
#include "frame/findau.h"
#include "frame/geometrytools.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/nettools.h"
#include "frame/texttools.h"
#include "frame/timetools.h"
#include "platform/commandrunner.h"
#include "testsupport/testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <opencv2/imgproc.hpp>

namespace {

int pixel(uchar b0, uchar b1, uchar b2, uchar b3 = 0)
{
    int v;
    uchar bytes[4] = {b0, b1, b2, b3};
    std::memcpy(&v, bytes, 4);
    return v;
}

// One pixel through a whole-buffer converter.
uchar convertOne(void (*convert)(uchar*, int*, int, int), uchar b0, uchar b1, uchar b2)
{
    int p = pixel(b0, b1, b2, 0x7f);
    uchar out = 0xAA;
    convert(&out, &p, 1, 1);
    return out;
}

cv::Mat pattern(int rows, int cols)
{
    cv::Mat m(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            m.at<uchar>(r, c) = static_cast<uchar>(1 + (r * 7 + c * 13) % 250);
    return m;
}

bool equalMat(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

const char* const kBlkidUsb =
    "/dev/sda1: UUID=\"0f1e2d3c-aaaa-bbbb-cccc-112233445566\" BLOCK_SIZE=\"4096\" TYPE=\"ext4\" PARTUUID=\"1-01\"\n"
    "/dev/sdb1: LABEL=\"STICK\" UUID=\"ABCD-1234\" BLOCK_SIZE=\"512\" TYPE=\"vfat\" PARTUUID=\"2-01\"\n";

} // namespace

class TstTools : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        gShowW = 1920;
        gShowH = 1080;
    }

    // ---- pixel formats -------------------------------------------------
    void greyConversion()
    {
        const float w[3] = {0.299f, 0.587f, 0.114f};
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 256; ++i)
                QCOMPARE(gaRGB2Gray[256 * k + i], int(float(i) * w[k] * 1024.0f));
        // Byte 0 carries the red weight.
        QCOMPARE(convertOne(RGBA2Gray, 10, 20, 30), uchar((gaRGB2Gray[10] + gaRGB2Gray[256 + 20] + gaRGB2Gray[512 + 30]) / 1024));
        // A buffer: every pixel, rows back to back.
        std::vector<int> src = {pixel(255, 255, 255), pixel(255, 0, 0), pixel(0, 0, 0),
                                pixel(0, 255, 0), pixel(0, 0, 255), pixel(128, 128, 128)};
        std::vector<uchar> dst(6, 0xAA);
        RGB2Gray(dst.data(), src.data(), 3, 2);
        QCOMPARE(dst, (std::vector<uchar>{254, 76, 0, 149, 29, 127}));
        // Bad input leaves the output alone.
        RGB2Gray(dst.data(), src.data(), 0, 2);
        RGB2Gray(nullptr, src.data(), 3, 2);
        RGBA2Gray(dst.data(), nullptr, 3, 2);
        QCOMPARE(dst[0], uchar(254));

        std::vector<uchar> g = {0, 7, 255};
        std::vector<int> rgba(3, -1);
        Gray2RGBA(g.data(), rgba.data(), 3, 1);
        QCOMPARE(rgba, (std::vector<int>{0, pixel(7, 7, 7, 0), pixel(255, 255, 255, 0)}));
    }

    // The frame conversions give, for every colour, what the one-pixel rules
    // give, in whole frames, odd runs and boxes; outside a box nothing moves.
    void everyColourConvertsAsOnePixelDoes()
    {
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 256; ++i)
                QCOMPARE(int(convertOne(RGBA2Gray, uchar(k == 0 ? i : 0), uchar(k == 1 ? i : 0), uchar(k == 2 ? i : 0))),
                         gaRGB2Gray[256 * k + i] / 1024);
        const int n = 1 << 24;
        std::vector<int> all(size_t(n) + 7);
        for (int i = 0; i < int(all.size()); ++i)
            all[size_t(i)] = int(unsigned(i % n) | 0xA5000000u); // byte 3 is not read
        std::vector<uchar> hue(all.size()), grey(all.size());
        RGBA2Hue(hue.data(), all.data(), int(all.size()), 1);
        RGBA2Gray(grey.data(), all.data(), int(all.size()), 1);
        int wrong = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            const uchar r = uchar(all[i]), g = uchar(all[i] >> 8), b = uchar(all[i] >> 16);
            wrong += hue[i] != RGB2HueByte(r, g, b);
            wrong += grey[i] != (gaRGB2Gray[r] + gaRGB2Gray[256 + g] + gaRGB2Gray[512 + b]) / 1024;
        }
        QCOMPARE(wrong, 0);
        // A box of a 37 x 5 frame, partly outside it.
        std::vector<uchar> box(37 * 5, 7), whole(37 * 5);
        RGBA2GrayHueRect(box.data(), all.data() + 999, 37, 5, cv::Rect(3, 1, 40, 2), false);
        RGBA2Hue(whole.data(), all.data() + 999, 37, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 37; ++x)
                QCOMPARE(box[size_t(y * 37 + x)], (y >= 1 && y <= 2 && x >= 3) ? whole[size_t(y * 37 + x)] : uchar(7));
    }

    void hueConversion()
    {
        const int hues[][4] = {{255, 0, 0, 0},     {255, 255, 0, 42},   {0, 255, 0, 85}, {0, 255, 255, 127},
                               {0, 0, 255, 170},   {255, 0, 255, 212}, {255, 0, 1, 254}, {0, 0, 0, 0},
                               {90, 90, 90, 0}};
        for (const auto& h : hues)
            QCOMPARE(int(convertOne(RGBA2Hue, uchar(h[0]), uchar(h[1]), uchar(h[2]))), h[3]);
        // Ties go to byte 0 before byte 1.
        QCOMPARE(RGB2HueByte(200, 200, 100), uchar(42));
        for (int r = 0; r < 256; r += 15)
            for (int g = 0; g < 256; g += 15)
                for (int b = 0; b < 256; b += 15)
                    QVERIFY(RGB2HueByte(uchar(r), uchar(g), uchar(b)) <= 254);
    }

    void otherConverters()
    {
        uchar rgb[6] = {1, 2, 3, 4, 5, 6};
        uchar rgba[8];
        RGB2RGBA(rgba, rgb, 2, 1);
        QCOMPARE(QByteArray((const char*)rgba, 8), QByteArray("\x03\x02\x01\x00\x06\x05\x04\x00", 8));
        uchar p0[2], p1[2], p2[2];
        ExtractRGBA(p0, p1, p2, rgba, 2, 1);
        QCOMPARE(p0[1], uchar(6));
        QCOMPARE(p2[1], uchar(4));
        uchar back[8];
        GenRGBA(p0, p1, p2, back, 2, 1);
        QCOMPARE(std::memcmp(back, rgba, 8), 0);
        uchar g8[2];
        Gray24To8(g8, rgb, 2, 1);
        QCOMPARE(QByteArray((const char*)g8, 2), QByteArray("\x01\x04", 2));

        // YV12 of a flat grey frame: grey everywhere, flip changes nothing.
        std::vector<uchar> yv12(4 * 4 + 2 * 4, 128);
        for (int i = 0; i < 16; ++i)
            yv12[i] = uchar(i * 10);
        std::vector<uchar> gray(16), flipped(16), rgb24(48), rgb32(64);
        QVERIFY(YV12_to_Gray(yv12.data(), gray.data(), 4, 4, false, false));
        QVERIFY(YV12_to_Gray(yv12.data(), flipped.data(), 4, 4, false, true));
        QVERIFY(YV12_to_RGB24(yv12.data(), rgb24.data(), 4, 4, false, false));
        QVERIFY(YV12_to_RGB32(yv12.data(), rgb32.data(), 4, 4, false, false));
        QCOMPARE(gray[5], uchar(50)); // neutral chroma: the grey of Y itself
        QCOMPARE(flipped[12 + 1], gray[1]);
        QCOMPARE(rgb24[3 * 5], uchar(50));
        QCOMPARE(rgb32[4 * 5 + 3], uchar(0));
        QVERIFY(!YV12_to_Gray(nullptr, gray.data(), 4, 4, false, false));
        QVERIFY(!YV12_to_Gray(yv12.data(), gray.data(), 1, 4, false, false));

        // NV21 frame of neutral chroma converts to its luma.
        cv::Mat nv21(6, 4, CV_8UC1, cv::Scalar(128));
        nv21.rowRange(0, 4).setTo(90);
        std::vector<uchar> out(4 * 4 * 4, 0);
        yuv420sp2gray(nv21, out.data());
        QCOMPARE(out[0], uchar(90));
        yuv420sp2rgba(nv21, out.data());
        QCOMPARE(out[0], out[1]); // neutral chroma stays grey (video-range luma)
        QCOMPARE(out[1], out[2]);
        QVERIFY(out[0] > 80 && out[0] < 95);
        yuv420sp2rgb(cv::Mat(), out.data()); // empty: nothing written, no crash
        // Sizes without whole chroma blocks: nothing written, no exception.
        std::fill(out.begin(), out.end(), uchar(7));
        yuv420sp2gray(cv::Mat(5, 4, CV_8UC1, cv::Scalar(90)), out.data());
        yuv420sp2rgba(cv::Mat(6, 3, CV_8UC1, cv::Scalar(90)), out.data());
        QCOMPARE(out[0], uchar(7));
        // 7 rows hold a 4-row frame (int(7 / 1.5)): exactly 4 x 4 x 3 bytes.
        cv::Mat seven(7, 4, CV_8UC1, cv::Scalar(128));
        seven.rowRange(0, 4).setTo(90);
        yuv420sp2rgb(seven, out.data());
        QVERIFY(out[0] > 80 && out[0] < 95);
        QVERIFY(out[3 * 4 * 4 - 1] > 80 && out[3 * 4 * 4 - 1] < 95);
        QCOMPARE(out[3 * 4 * 4], uchar(7));

        // Bayer mosaic of a flat colour gives that colour.
        const int W = 8, H = 6;
        std::vector<uchar> mosaic(W * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                mosaic[y * W + x] = (y % 2 == 0) ? (x % 2 == 0 ? 200 : 100) : (x % 2 == 0 ? 100 : 50);
        std::vector<uchar> colour(W * H * 4, 0xAA);
        Bayer2RGBA(mosaic.data(), colour.data(), W, H);
        for (int i = 0; i < W * H; ++i)
            QCOMPARE(std::vector<uchar>(&colour[4 * i], &colour[4 * i + 4]), (std::vector<uchar>{200, 100, 50, 0}));

        TestEnv env(false);
        GenRGB2Gray();
        QFile a("a.c");
        QVERIFY(a.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(a.readAll());
        QVERIFY(text.startsWith("int gaRGB2Gray[] = {\n    0, 306, 612, 918, "));
        QVERIFY(text.endsWith("29767, \n};"));
        QCOMPARE(text.count(", "), 768);
    }

    // ---- moves ----------------------------------------------------------
    void moveImage()
    {
        const cv::Mat src = pattern(30, 40);
        cv::Mat dst(30, 40, CV_8UC1, cv::Scalar(9));
        MoveImage(src, dst, 0, 0);
        QVERIFY(equalMat(dst, src));

        MoveImage(src, dst, 40, 0);
        QCOMPARE(cv::countNonZero(dst), 0);
        MoveImage(src, dst, 0, -30);
        QCOMPARE(cv::countNonZero(dst), 0);
        MoveImage(src, dst, -39, 29);
        QCOMPARE(cv::countNonZero(dst), 1);
        QCOMPARE(dst.at<uchar>(29, 0), src.at<uchar>(0, 39));

        // A destination of another size is made to fit; in place works.
        cv::Mat small;
        MoveImage(src, small, 1, 1);
        QCOMPARE(small.size(), src.size());
        QCOMPARE(small.at<uchar>(1, 1), src.at<uchar>(0, 0));
        cv::Mat same = src.clone();
        MoveImage(same, same, 2, 0);
        QCOMPARE(same.at<uchar>(0, 2), src.at<uchar>(0, 0));
        QCOMPARE(same.at<uchar>(0, 1), uchar(0));
        // Empty source: destination untouched.
        cv::Mat keep = src.clone();
        MoveImage(cv::Mat(), keep, 1, 1);
        QVERIFY(equalMat(keep, src));
    }

    void transformImage()
    {
        // The direction and centre of a turn with a shift are the engine's
        // positioning case (a moved and turned part restored to a pixel).
        const cv::Mat src = pattern(50, 100);
        cv::Mat dst;
        // A pure shift equals MoveImage.
        cv::Mat moved(src.size(), src.type());
        MoveImage(src, moved, 7, -4);
        TransformImage(src, dst, cv::Point(7, -4), cv::Point(50, 25), 0.0);
        QVERIFY(equalMat(dst, moved));
        // Rotation keeps the corners: the padding is large enough.
        TransformImage(src, dst, cv::Point(0, 0), cv::Point(50, 25), 180.0);
        QVERIFY(std::abs(int(dst.at<uchar>(1, 1)) - int(src.at<uchar>(49, 99))) <= 1);
        QCOMPARE(dst.at<uchar>(0, 0), uchar(0)); // came from the black padding
        // The black border is 20 columns wide for a 100 x 50 image (side 141):
        // a shift of 30 keeps source columns up to 89 in it, and a half turn
        // about the right edge brings them back into view at columns 81..99.
        TransformImage(src, dst, cv::Point(30, 0), cv::Point(100, 25), 180.0);
        for (int r = 1; r < 50; ++r) {
            QVERIFY(std::abs(int(dst.at<uchar>(r, 81)) - int(src.at<uchar>(50 - r, 89))) <= 1);
            QVERIFY(std::abs(int(dst.at<uchar>(r, 99)) - int(src.at<uchar>(50 - r, 71))) <= 1);
            QCOMPARE(dst.at<uchar>(r, 80), uchar(0)); // column 90 went past the border
        }
        cv::Mat untouched = src.clone();
        TransformImage(cv::Mat(), untouched, cv::Point(1, 1), cv::Point(0, 0), 10.0);
        QVERIFY(equalMat(untouched, src));
    }

    // ---- hit tests and clamps ------------------------------------------
    void hitTests()
    {
        QVERIFY(PointAround(QPoint(10, 10), QPoint(12, 12), 0)); // tol 0 -> 3
        QVERIFY(!PointAround(QPoint(10, 10), QPoint(13, 10), 0));
        QVERIFY(PointAround(QPoint(0, 0), QPoint(49, -49), 100)); // tol 100 -> 50
        QVERIFY(!PointAround(QPoint(0, 0), QPoint(50, 0), 100));
        QVERIFY(LineAround(5, 7, 1));
        QVERIFY(!LineAround(5, 8, 1));
        QVERIFY(LineAround(5, 7, 10, 10, 20, 3));
        QVERIFY(LineAround(5, 7, 20, 10, 20, 3));
        QVERIFY(!LineAround(5, 7, 21, 10, 20, 3));
        QVERIFY(!LineAround(5, 7, 9, 10, 20, 3));
    }

    void clamps()
    {
        // value, axis (1: x), then the result; the screen bounds even when an
        // image size is passed (last two rows).
        const int values[][4] = {{0, 1, 3, 0}, {1918, 1, 1917, 0}, {1917, 1, 1917, 0}, {1079, 0, 1077, 0},
                                 {3, 0, 3, 1}, {1500, 0, 1077, 1}};
        for (const auto& c : values) {
            int v = c[0];
            if (c[3])
                CheckInRange(&v, c[1], 2448, 2048);
            else
                CheckInRange(&v, c[1]);
            QCOMPARE(v, c[2]);
        }
        CheckInRange(static_cast<int*>(nullptr), 0);

        // Rectangles: moved whole or cut; a turned-over one is normalised
        // first; one wider than the screen gets one pass, the right edge wins.
        struct Box { QRect in; bool whole, imageSize; QRect out; };
        const auto coords = [](int l, int t, int r, int b) { QRect q; q.setCoords(l, t, r, b); return q; };
        for (const Box& b : {Box{coords(-10, 5, 20, 30), true, false, coords(3, 5, 33, 30)},
                             Box{coords(-10, 5, 20, 30), false, false, coords(3, 5, 20, 30)},
                             Box{coords(20, 30, -10, 5), false, true, coords(3, 5, 20, 30)},
                             Box{coords(1900, 1070, 1950, 1100), true, false, coords(1867, 1047, 1917, 1077)},
                             Box{coords(0, 10, 2000, 20), true, false, coords(1917 - 2000, 10, 1917, 20)}}) {
            QRect r = b.in;
            if (b.imageSize)
                CheckInRange(&r, 2448, 2048, b.whole);
            else
                CheckInRange(&r, b.whole);
            QCOMPARE(r, b.out);
        }
    }

    // ---- time and text ---------------------------------------------------
    void timeAndText()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const qint64 ms = gettimeofday_ms();
        QVERIFY(ms >= before && ms - before < 1000);
        QVERIFY(std::llabs(qint64(gettimeofday_us() / 1000) - ms) < 1000);
        QCOMPARE(curtime_from_ms(9999999999LL), 999999999);
        QCOMPARE(curtime_from_ms(10000000000LL), 0); // wraps after 10^9 ticks
        QCOMPARE(curtime_from_ms(10000000019LL), 1);
        QVERIFY(curtime_qint64_2_int() >= 0);

        QCOMPARE(ChgIO_Int2ASCII(5), QString("10100000"));
        QCOMPARE(ChgIO_Int2ASCII(0x1FF), QString("11111111"));
        QCOMPARE(ChgIO_ASCII2Int("10100000"), 5);
        QCOMPARE(ChgIO_ASCII2Int(""), 0);
        QCOMPARE(ChgIO_ASCII2Int("x2"), 4);
        QCOMPARE(ChgIO_ASCII2Int(QString(64, '1')), 0x7FFFFFFF);
        QCOMPARE(listint_2_string({1, 2, 3}), QString("1;2;3;"));
        QCOMPARE(string_2_listint("1;;x;-3;"), (QList<int>{1, -3}));
        QCOMPARE(nint2string(string2nint("192.168.1.7")), std::string("192.168.1.7"));
        QCOMPARE(string2nint("1.2.3.4"), quint32(htonl(0x01020304)));
        QVERIFY(QRegularExpression("^SC_#[0-9a-f]{8}_#\\d{8}_\\d{9}$").match(new_uuid()).hasMatch());
        QVERIFY(new_uuid() != new_uuid());
    }

    void filesAndOrder()
    {
        TestEnv env(false);
        QDir().mkpath("a/b");
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-100);
        const QStringList names = {"a/one", "a/b/two", "three"};
        for (int i = 0; i < names.size(); ++i) {
            QFile f(names[i]);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
            f.flush();
            f.setFileTime(t0.addSecs(10 * (3 - i)), QFileDevice::FileModificationTime);
        }
        QList<QFileInfo> all;
        FoundAllFile(all, env.workDir());
        QCOMPARE(all.size(), 3);
        for (const QFileInfo& fi : all)
            QVERIFY(fi.isAbsolute());
        SortFileByTime(all);
        QCOMPARE(all[0].fileName(), QString("three"));
        QCOMPARE(all[2].fileName(), QString("one"));
        QList<QFileInfo> none;
        FoundAllFile(none, env.workDir() + "/missing");
        QVERIFY(none.isEmpty());
    }

    // ---- network ---------------------------------------------------------
    void addresses()
    {
        uchar mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
        QCOMPARE(ethaddr2string(mac), std::string("00:1a:2b:3c:4d:5e"));
        uchar out[6] = {1, 1, 1, 1, 1, 1};
        QCOMPARE(string2ethaddr("aa:BB:0c:d:ee:ff", out), 0);
        QCOMPARE(ethaddr2string(out), std::string("aa:bb:0c:0d:ee:ff"));
        uchar keep[6] = {1, 2, 3, 4, 5, 6};
        for (const char* bad : {"aa:bb:cc:dd:ee", "aa:bb:cc:dd:ee:zz", "aa:bb:cc:dd:ee:100"})
            string2ethaddr(bad, keep);
        QCOMPARE(ethaddr2string(keep), std::string("01:02:03:04:05:06"));

        QString ip = "192.168.1.7";
        QVERIFY(setIPLast(ip, 20));
        QCOMPARE(ip, QString("192.168.1.20"));
        ip = "host";
        setIPLast(ip, 9);
        QCOMPARE(ip, QString("9"));
        QCOMPARE(getSubNet("192.168.1.7", "255.255.255.0"), QString("192.168.1.0"));
        QCOMPARE(getSubNet("10.1.200.7", "255.255.128.0"), QString("10.1.128.0"));
        QCOMPARE(getSubNet("192.168.1.7", "255.255.255"), QString());
        QCOMPARE(getSubNet("192.168.x.7", "255.255.255.0"), QString());

        std::srand(7);
        for (int i = 0; i < 10000; ++i) {
            const int low = RandPort() & 0xFFFF;
            QVERIFY(low >= 10001);
            QVERIFY(low < 10410 || low > 10419);
        }
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        QCOMPARE(set_socket_nonblock(fds[0]), 0);
        QVERIFY(fcntl(fds[0], F_GETFL) & O_NONBLOCK);
        close(fds[0]);
        close(fds[1]);
        QCOMPARE(set_socket_nonblock(-1), -1);
    }

    void interfaceAddresses()
    {
        TestEnv env(false);
        char ip[16] = "", mask[16] = "", gw[16] = "", mac[18] = "";
        char lo[] = "lo";
        // No route file.
        QCOMPARE(GetIfAddr(lo, ip, mask, gw, mac), -6);
        QCOMPARE(QStringList({ip, mask, mac}), QStringList({"127.0.0.1", "255.0.0.0", "00:00:00:00:00:00"}));
        // A default route on another interface still gives the gateway.
        QVERIFY(env.writeSimFile("/proc/net/route",
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
            "eth1\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"));
        QCOMPARE(GetIfAddr(lo, ip, mask, gw, mac), 0);
        QCOMPARE(QString(gw), QString("192.168.1.1"));
        QVERIFY(CommandRunner::loggedCommands().isEmpty());
        // No default route: one through the interface's own address, which
        // on the simulated platform is only logged.
        QVERIFY(env.writeSimFile("/proc/net/route",
            "Iface\tDestination\tGateway \tFlags\n"
            "eth0\t0001A8C0\t00000000\t0001\n"));
        QCOMPARE(GetIfAddr(lo, ip, mask, gw, mac), 0);
        QCOMPARE(QString(gw), QString("127.0.0.1"));
        QCOMPARE(CommandRunner::loggedCommands(),
                 QStringList({"route del default", "route add default gw 127.0.0.1"}));
        char none[] = "nosuchif0";
        QCOMPARE(GetIfAddr(none, ip, mask, gw, mac), -2);
        QCOMPARE(GetIfAddr(nullptr, ip, mask, gw, mac), -2);
        FirstFoundBaseIP(); // read-only walk; must not crash
    }

    // ---- device identity ---------------------------------------------------
    void deviceIdentity()
    {
        struct Case { QByteArray cpuinfo, blkid; QString id; bool runsBlkid; };
        const QByteArray x86Blkid = "/dev/sdb1: UUID=\"1111-2222\" TYPE=\"ext4\"\n/dev/sda2: "
            "UUID=\"0f1e2d3c-aaaa-bbbb-cccc-112233445566\" BLOCK_SIZE=\"4096\" TYPE=\"ext4\" PARTUUID=\"9-02\"\n";
        const Case cases[] = {
            {"processor\t: 0\nHardware\t: X\nSerial\t\t: 0a1b-00000000c0ffee;\n", {}, "00000000c0ffee", false},
            {"Serial : 00000000deadbeef\n", {}, "00000000deadbeef", false},
            // x86: no serial; the system disk's ext4 UUID, last group.
            {"processor\t: 0\nmodel name\t: Some CPU\n", x86Blkid, "112233445566", true},
            // Malformed or missing cpuinfo: a defined empty identity.
            {QByteArray("\0\xff\xfeSerial\0:", 10), "garbage without fields\n/dev/sda1: TYPE=\"ext4\"\n", "", true},
            {{}, "", "", true}};
        for (const Case& c : cases) {
            TestEnv env(false);
            if (!c.cpuinfo.isNull())
                env.writeSimFile("/proc/cpuinfo", c.cpuinfo);
            if (!c.blkid.isNull())
                env.writeSimFile("/cmd/blkid.out", c.blkid);
            QCOMPARE(getlocal_deviceid(), c.id);
            QCOMPARE(CommandRunner::loggedCommands().contains("blkid"), c.runsBlkid);
        }
        TestEnv env(false);
        QCOMPARE(found_diskuuid_by_etc_fstab(), QString());
        env.writeSimFile("/etc/fstab", "# comment\nUUID=abc-1 /boot vfat defaults 0 1\nUUID=def-2 / ext4 errors=remount-ro 0 1\n");
        QCOMPARE(found_diskuuid_by_etc_fstab(), QString("def-2"));
        env.writeSimFile("/etc/assign_uuid", "assigned-7\n");
        QCOMPARE(found_diskuuid_by_etc_fstab(), QString("assigned-7"));
    }

    // ---- USB drive finder -------------------------------------------------
    void findDrive()
    {
        // Each case: blkid's listing, /proc/mounts (null: no file), the drives
        // present ("x@mnt": x is what /mnt shows), what FindAU answers and the
        // commands it gave, in order.
        struct Case { const char* name; QByteArray blkid, mounts; QStringList drives; QString result; QStringList commands; };
        const QByteArray usb = kBlkidUsb, root = "/dev/sda1 / ext4 rw 0 0\n";
        const QStringList sdb1 = {"sdb1"}, blkidOnly = {"blkid"}, mountSdb1 = {"blkid", "mount '/dev/sdb1' /mnt"};
        const QString mnt = "/mnt";
        const Case cases[] = {
            {"removable partition mounted", usb, root, sdb1, mnt, mountSdb1},
            {"system disk must come first",
             "/dev/sdb1: UUID=\"ABCD-1234\" TYPE=\"vfat\"\n/dev/sda1: UUID=\"0f1e\" TYPE=\"ext4\"\n",
             "/dev/sdx1 /mnt vfat rw 0 0\n", sdb1, {}, blkidOnly},
            {"system disk partitions ignored",
             "/dev/sda1: UUID=\"0f1e\" TYPE=\"ext4\"\n/dev/sda3: UUID=\"77\" TYPE=\"ntfs\"\n/dev/sdc1: TYPE=\"swap\"\n", "",
             {}, {}, blkidOnly},
            {"first of two drives", "/dev/sda1: TYPE=\"ext4\"\n/dev/sdc1: TYPE=\"ntfs\"\n/dev/sdb1: TYPE=\"vfat\"\n", "",
             {"sdb1", "sdc1"}, mnt, {"blkid", "mount '/dev/sdc1' /mnt"}},
            {"umount once per mnt line", usb, root + "/dev/sdc1 /mnt0 vfat rw 0 0\n/dev/sdd1 /mnt vfat rw 0 0\n",
             {"sdb1", "sdd1", "sdd1@mnt"}, mnt, {"blkid", "umount /mnt", "umount /mnt", "mount '/dev/sdb1' /mnt"}},
            // No drive folder: the mount fails; "/mnt1" is no mount at /mnt.
            {"failed mount reported", usb, "/dev/sdb1 /mnt1 vfat rw 0 0\n", {}, {},
             {"blkid", "umount /mnt", "mount '/dev/sdb1' /mnt"}},
            // blkid's device text reaches mount as one quoted word.
            {"hostile device name", "/dev/sda1: TYPE=\"ext4\"\n/dev/sdb1 /x;touch y: TYPE=\"vfat\"\n", "", {}, {},
             {"blkid", "mount '/dev/sdb1 /x;touch y' /mnt"}},
            {"existing mount kept", usb, root + "/dev/sdb1 /mnt vfat rw,relatime 0 0\n", {}, mnt, blkidOnly},
            {"empty listing", "", {}, {}, {}, blkidOnly},
            {"NUL in listing", QByteArray("\0/dev/sda1: TYPE=\"ext4\"\n", 24), {}, {}, {}, blkidOnly},
            {"no mounts file", usb, {}, sdb1, {}, blkidOnly},
            // Text ends at the first NUL, and the new mount line lands after it
            // too, so no success is claimed.
            {"NUL in mounts", usb, QByteArray("\0\0garbage /mnt", 14), sdb1, {}, mountSdb1}};
        for (const Case& c : cases) {
            TestEnv env(false);
            env.writeSimFile("/cmd/blkid.out", c.blkid);
            if (!c.mounts.isNull())
                env.writeSimFile("/proc/mounts", c.mounts);
            for (const QString& d : c.drives) {
                if (d.endsWith("@mnt"))
                    QVERIFY(QFile::link(env.simRoot() + "/drives/" + d.chopped(4), env.simRoot() + "/mnt"));
                else
                    QVERIFY(QDir().mkpath(env.simRoot() + "/drives/" + d));
            }
            QVERIFY2(FindAU() == c.result, c.name);
            QVERIFY2(CommandRunner::loggedCommands() == c.commands, c.name);
            if (c.commands.last() == "mount '/dev/sdb1' /mnt" && !c.result.isEmpty()) {
                QFile m(env.simRoot() + "/proc/mounts");
                QVERIFY(m.open(QIODevice::ReadOnly));
                QVERIFY(m.readAll().contains("/dev/sdb1 /mnt "));
            }
        }
    }

    void findDrivePickRules()
    {
        QCOMPARE(findAUPickDevice("/dev/sda1: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"exfat\"\n/dev/sdc1: TYPE=\"vfat\"\n"),
                 QString("/dev/sdb1"));
        QCOMPARE(findAUPickDevice("/dev/sda1: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"ext4\"\n/dev/sda5: TYPE=\"vfat\"\n"),
                 QString("/dev/sda5")); // a later ext4 line is the system disk
        QCOMPARE(findAUPickDevice("12: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"vfat\"\n"), QString());
        QCOMPARE(findAUPickDevice("/dev/sda1: TYPE=\"EXT4\"\n/dev/sdb1: TYPE=\"vfat\"\n"), QString());
        QCOMPARE(findAUPickDevice(""), QString());
        QCOMPARE(diskOfPartition("/dev/sda2"), QString("/dev/sda"));
        QCOMPARE(diskOfPartition("/dev/sdb10"), QString("/dev/sdb"));
        QCOMPARE(diskOfPartition("/dev/mmcblk0p2"), QString("/dev/mmcblk0p"));
        QCOMPARE(diskOfPartition("42"), QString());
        QVERIFY(!findAUIsMountedAtMnt("/dev/sdb11 /mnt vfat rw 0 0\n", "/dev/sdb1"));
    }

    void manualFinder()
    {
        TestEnv env(false);
        env.writeSimFile("/proc/mounts", "");
        QDir().mkpath(env.simRoot() + "/drives/sdc1");
        QCOMPARE(FindU_ByManual(), 1);
        QCOMPARE(CommandRunner::loggedCommands(),
                 QStringList({"umount /mnt", "mount /dev/sdb1 /mnt", "mount /dev/sdc1 /mnt"}));
        TestEnv env2(false);
        env2.writeSimFile("/proc/mounts", "");
        QCOMPARE(FindU_ByManual(), 0);
    }
};

QTEST_GUILESS_MAIN(TstTools)
#include "tst_tools.moc"
