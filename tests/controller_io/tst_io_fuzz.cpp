// The board answer scanner and the I/O thread's receive step against random
// and damaged byte streams: they must never read or write outside their
// buffers or the value table, and an input word may only come from a frame
// that is really in the stream with a correct check byte.
#include "controller/boardframeparser.h"
#include "controller/controlport.h"
#include "controller/iothread.h"

#include <QElapsedTimer>
#include <QtTest>
#include <cstdint>
#include <random>
#include <vector>

namespace {

bool independentlyValid(const unsigned char* f)
{
    unsigned sum = 0;
    for (int i = 0; i < 6; ++i)
        sum += f[i];
    return f[0] == 0x5F && f[7] == 0xF5 && f[6] == (sum & 0xFF);
}

} // namespace

class TstIoFuzz : public QObject
{
    Q_OBJECT
private slots:
    void randomStreams();
    void overflowDropsButRecovers();
    void receiveSide();
};

// Pure noise, biased towards the bytes that matter, cut into random pieces.
// Whatever the scanner returns must be a correct frame found at the stated
// place of what it kept.
void TstIoFuzz::randomStreams()
{
    std::mt19937 rng(20261206);
    QElapsedTimer timer;
    timer.start();
    const unsigned char special[] = {0x5F, 0xF5, 0x02, 0x03, 0x04, 0x00, 0x61};
    int streams = 0;
    uint64_t frames = 0;
    for (; streams < 20000 && timer.elapsed() < 10000; ++streams) {
        BoardFrameParser p;
        std::vector<unsigned char> kept;
        const int len = int(rng() % 4000);
        std::vector<unsigned char> s(static_cast<size_t>(len));
        for (auto& b : s)
            b = (rng() % 3 == 0) ? special[rng() % sizeof(special)] : static_cast<unsigned char>(rng());
        uint32_t word = 0;
        int pos = 0;
        while (pos < len) {
            const int chunk = 1 + int(rng() % 1500);
            const int n = std::min(chunk, len - pos);
            const int took = p.append(s.data() + pos, n);
            QVERIFY(took >= 0 && took <= n);
            kept.insert(kept.end(), s.begin() + pos, s.begin() + pos + took);
            pos += n;
            while (const unsigned char* f = p.nextFrame()) {
                ++frames;
                QVERIFY(independentlyValid(f));
                const uint64_t off = p.lastFrameOffset();
                QVERIFY(off + 8 <= kept.size());
                QVERIFY(std::equal(f, f + 8, kept.begin() + long(off)));
                if (f[1] == 2)
                    word = BoardFrameParser::inputWord(f);
            }
            QVERIFY(p.fill() < 8);
        }
        QVERIFY(word < 1024);
    }
    QVERIFY(streams >= 100);
    qInfo("%d random streams, %llu chance frames, %lld ms", streams, (unsigned long long)frames,
          (long long)timer.elapsed());
}

// More than the buffer holds at once: the excess is dropped, counted, and the
// scanner keeps working on what comes after.
void TstIoFuzz::overflowDropsButRecovers()
{
    BoardFrameParser p;
    std::vector<unsigned char> junk(5000, 0x11);
    QCOMPARE(p.append(junk.data(), int(junk.size())), BoardFrameParser::kBufferSize);
    QCOMPARE(p.droppedBytes(), uint64_t(5000 - BoardFrameParser::kBufferSize));
    QVERIFY(!p.nextFrame());
    unsigned char f[8];
    BoardFrameParser::makeStatus(f, 0x155, 0x0AA);
    p.append(f, 8);
    const unsigned char* got = p.nextFrame();
    QVERIFY(got);
    QCOMPARE(BoardFrameParser::inputWord(got), 0x155u);
    QCOMPARE(BoardFrameParser::echoWord(got), 0x0AAu);
    QVERIFY(!p.nextFrame());
}

// The receive step of the I/O thread (not started; it runs here) on random
// streams of good answers of every type, damaged answers (any byte, the check
// and end bytes included) and noise, in random pieces. After every piece the
// input word, the value table and the resend request must be exactly what a
// plain scan of the bytes so far gives: no damaged answer is ever taken.
void TstIoFuzz::receiveSide()
{
    std::mt19937 rng(4242);
    QElapsedTimer timer;
    timer.start();
    int streams = 0;
    uint64_t accepted = 0, damaged = 0;
    for (; streams < 30000 && timer.elapsed() < 10000; ++streams) {
        std::vector<unsigned char> s;
        const int parts = 1 + int(rng() % 80);
        for (int i = 0; i < parts; ++i) {
            const int kind = int(rng() % 10);
            unsigned char f[8];
            if (kind < 3) {
                BoardFrameParser::makeStatus(f, rng() & 0x3FFu, rng() & 0x3FFu);
            } else if (kind < 6) {
                BoardFrameParser::makeAnswer(f, 3 + int(rng() % 2), rng());
            } else if (kind == 6) {
                BoardFrameParser::makeAnswer(f, int(rng() % 256), rng());
            } else if (kind < 9) {
                BoardFrameParser::makeStatus(f, rng() & 0x3FFu, rng() & 0x3FFu);
                f[rng() % 8] ^= static_cast<unsigned char>(1 + rng() % 255);
                ++damaged;
            } else {
                const int n = int(rng() % 12);
                for (int k = 0; k < n; ++k)
                    s.push_back(rng() % 4 ? static_cast<unsigned char>(rng()) : 0x5F);
                continue;
            }
            s.insert(s.end(), f, f + 8);
        }

        // A plain scan of the whole stream: where a frame is decided depends
        // only on the eight bytes from there, so the frames of a prefix are
        // those that end inside it.
        std::vector<size_t> at;
        for (size_t p = 0; p + 8 <= s.size();) {
            if (independentlyValid(s.data() + p)) {
                at.push_back(p);
                p += 8;
            } else {
                ++p;
            }
        }

        IOThread t;
        const int startIndex = int(rng() % 20);
        t.resetValueIndex(startIndex);
        uint32_t expectIn = 0x155u;
        uint32_t expectTable[kBoardValueCount];
        for (int i = 0; i < kBoardValueCount; ++i)
            gFTemp[i] = expectTable[i] = 0xDEAD0000u + uint32_t(i);
        gDataIn = expectIn;
        int index = startIndex;
        const uint32_t wanted = rng() & 0x3FFu;
        size_t next = 0, fed = 0;
        while (fed < s.size()) {
            // Pieces below the buffer size: overflow has its own case.
            const size_t n = std::min<size_t>(1 + rng() % 200, s.size() - fed);
            const bool resend = t.receive(s.data() + fed, int(n), wanted);
            fed += n;
            bool expectResend = false;
            for (; next < at.size() && at[next] + 8 <= fed; ++next) {
                const unsigned char* f = s.data() + at[next];
                ++accepted;
                if (f[1] == 2) {
                    expectIn = BoardFrameParser::inputWord(f);
                    expectResend = expectResend || BoardFrameParser::echoWord(f) != wanted;
                } else if ((f[1] == 3 || f[1] == 4) && index < kBoardValueCount) {
                    expectTable[index++] = BoardFrameParser::value(f);
                }
            }
            QCOMPARE(gDataIn, expectIn);
            QCOMPARE(resend, expectResend);
        }
        for (int i = 0; i < kBoardValueCount; ++i)
            QCOMPARE(gFTemp[i], expectTable[i]);
    }
    QVERIFY(streams >= 100);
    qInfo("%d streams through the receive step, %llu frames taken, %llu damaged answers refused, %lld ms", streams,
          (unsigned long long)accepted, (unsigned long long)damaged, (long long)timer.elapsed());
}

QTEST_APPLESS_MAIN(TstIoFuzz)
#include "tst_io_fuzz.moc"
