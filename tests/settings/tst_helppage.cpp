// The help page reads only what it can show: no FIFO holds the window, no
// picture beyond the image bound is decoded.
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/operatorprompt.h"
#include "settings/ui/helpwidget.h"
#include "testsupport/logcapture.h"
#include "testsupport/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {
QByteArray be32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    const QByteArray body = type + data;
    return be32(quint32(data.size())) + body
        + be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

// A PNG announcing w x h 8-bit grey pixels, with the first row only.
QByteArray pngHeader(quint32 w, quint32 h)
{
    const QByteArray row(int(w) + 1, '\0');
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", be32(w) + be32(h) + QByteArray("\x08\0\0\0\0", 5))
        + chunk("IDAT", qCompress(row).mid(4)) + chunk("IEND", {});
}
} // namespace

class TstHelpPage : public QObject
{
    Q_OBJECT
private slots:
    void oddFilesGiveTheMissingPage();
};

void TstHelpPage::oddFilesGiveTheMissingPage()
{
    TestEnv env;
    QVERIFY(MessageTable::load() > 0);
    gLan = 1;
    gHelpC = 6;
    QVERIFY(QDir().mkpath("help"));
    QWidget top;
    top.resize(gShowW, gShowH);
    HelpWidget help(&top);
    const QString missing = QString("%1 6").arg(messageText(792));

    // A picture beyond the bound: refused from its header, said in the log.
    QVERIFY(env.writeWorkFile("help/help6.png", pngHeader(30000, 30000)));
    {
        LogCapture log;
        QVERIFY(!help.loadPage());
        QCOMPARE(log.matching({"help/help6.png", "30000x30000", "bound"}).size(), 1);
    }
    QCOMPARE(help.page()->text(), missing);
    QVERIFY(QFile::remove("help/help6.png"));

    // FIFOs in place of both files, with a writer that never writes: the
    // page is shown at once. (A reader that waits is let go after 3 s.)
    QVERIFY(::mkfifo("help/help6.png", 0644) == 0 && ::mkfifo("help/help6.txt", 0644) == 0);
    const int w1 = ::open("help/help6.png", O_RDWR | O_NONBLOCK), w2 = ::open("help/help6.txt", O_RDWR | O_NONBLOCK);
    QSemaphore shown;
    QThread* release = QThread::create([&] {
        const bool waited = !shown.tryAcquire(1, 3000);
        ::close(w1);
        ::close(w2);
        // A reader still waiting to open one gets a writer that goes at once.
        for (int i = 0; waited && i < 50; ++i, QThread::msleep(100))
            for (const char* f : {"help/help6.png", "help/help6.txt"})
                if (const int fd = ::open(f, O_WRONLY | O_NONBLOCK); fd >= 0)
                    ::close(fd);
    });
    release->start();
    QElapsedTimer t;
    t.start();
    {
        LogCapture log;
        top.show();
        help.show();
        QCOMPARE(log.matching({"help/help6", "not a regular file"}).size(), 2);
    }
    const qint64 took = t.elapsed();
    shown.release();
    release->wait();
    delete release;
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(help.page()->text(), missing);
}

QTEST_MAIN(TstHelpPage)
#include "tst_helppage.moc"
