#include "records/savefialimagethread.h"

#include "frame/clock.h"
#include "frame/globals.h"
#include "records/copy2movedisk.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

SaveFialImageThread* gpSaveFialImageThread = nullptr;

namespace {

const int kPassPauseMs = 100;
const int kSlotPauseMs = 200;
const int kPairPauseMs = 1000; // NG then OK of one detection: names a second apart
const int kMaxNameTries = 3600;
const qint64 kWarnEveryMs = 10000;

std::atomic<qint64> gLastWarn{LLONG_MIN};

// Failures repeat every pass while a disk is full: warn at most every 10 s.
void warnLimited(const QString& text)
{
    const qint64 now = clockMs();
    qint64 prev = gLastWarn.load();
    if (prev != LLONG_MIN && now >= prev && now - prev < kWarnEveryMs)
        return;
    if (gLastWarn.compare_exchange_strong(prev, now))
        qWarning().noquote() << "SaveFialImageThread:" << text;
}

} // namespace

SaveFialImageThread::SaveFialImageThread() = default;

SaveFialImageThread::~SaveFialImageThread()
{
    requestStop();
    wait();
}

void SaveFialImageThread::run()
{
    // A save killed midway (power cut, SIGKILL) left its temporary file.
    if (const int n = Copy2MoveDisk::removeUnfinished(m_base))
        qInfo() << "SaveFialImageThread: removed" << n << "unfinished image file(s) below" << m_base;
    while (!m_stop) {
        // Asked during a pass, the finish may come after a slot the pass
        // has looked at already: the pass after it is the whole last one.
        const bool last = m_finish;
        passOnce();
        if (last)
            break;
    }
}

void SaveFialImageThread::finish()
{
    m_finish = true;
    wait();
}

QString SaveFialImageThread::resultFolder(int c, int d, int kind) const
{
    const QString rel = QStringLiteral("%1//camera%2//detect%3//%4")
                            .arg(m_base)
                            .arg(c + 1)
                            .arg(d + 1)
                            .arg(kind == 0 ? QStringLiteral("NG") : QStringLiteral("OK"));
    return QDir::cleanPath(QDir::current().absoluteFilePath(rel));
}

int SaveFialImageThread::passOnce()
{
    int saved = 0;
    Clock* clock = Clock::instance();
    const int cameras = std::min(numCamera, 8);
    for (int c = 0; c < cameras && !m_stop; ++c) {
        const QSize size = m_size ? m_size(c) : QSize();
        // RGB32 rows have no padding: the slot holds exactly w x h x 4 bytes.
        const std::size_t need =
            size.width() > 0 && size.height() > 0 ? std::size_t(size.width()) * std::size_t(size.height()) * 4 : 0;
        QImage img; // made when the camera has something to save
        const int detections = std::min(gDNum, 8);
        for (int d = 0; d < detections && !m_stop; ++d) {
            bool f0, f1;
            int k;
            {
                QMutexLocker lock(pMutexSaveFail);
                f0 = gisSaveFail[c][d][0];
                f1 = gisSaveFail[c][d][1];
                k = gFailIndex[c][d];
            }
            if ((f0 || f1) && need && img.isNull())
                img = QImage(size, QImage::Format_RGB32);
            for (int s = 0; s < 2; ++s) {
                Pending job;
                bool wrongSize = false;
                std::size_t had = 0;
                {
                    QMutexLocker lock(pMutexSaveFail);
                    // Raised after the turn began, before any image was made:
                    // taken in the next pass.
                    const bool later = img.isNull() && need;
                    if (gisSaveFail[c][d][s] && !later) {
                        PixelBuffer& buf = gpFailImage[c][d][s];
                        had = buf.size();
                        if (need == 0 || buf.isNull() || buf.size() != need) {
                            wrongSize = true;
                        } else {
                            std::memcpy(img.bits(), buf.data(), need);
                            // The ROI number belongs to the NG image just
                            // copied; one composed after this keeps its own.
                            if (s == 0) {
                                k = gFailIndex[c][d];
                                gFailIndex[c][d] = 0;
                            }
                            job = Pending{img, k, (s == 0 || f0) ? 0 : 1, s == 1 && f1, true};
                        }
                        gisSaveFail[c][d][s] = false;
                    }
                }
                if (wrongSize) {
                    qWarning() << "SaveFialImageThread: slot of camera" << c + 1 << "detection" << d + 1 << "slot" << s
                               << "holds" << had << "bytes, the frame needs" << need << "- image skipped";
                    continue;
                }
                Pending& retry = m_retry[c][d][s];
                if (!job.valid) {
                    // An image whose save failed (disk full) is tried again
                    // until it is saved or a newer one takes its place.
                    if (!retry.valid)
                        continue;
                    job = retry;
                }
                retry = Pending();
                QString path;
                if (saveOne(c, d, job.kind, job.k, job.img, &path)) {
                    ++saved;
                    if (m_sink)
                        m_sink(c, d, job.ok, path);
                } else {
                    retry = job;
                }
                if (!m_finish)
                    clock->sleepMs(s == 0 && f0 && f1 ? kPairPauseMs : kSlotPauseMs);
            }
        }
    }
    if (!m_finish)
        clock->sleepMs(kPassPauseMs);
    return saved;
}

bool SaveFialImageThread::saveOne(int c, int d, int kind, int k, const QImage& img, QString* pathOut)
{
    const QString folder = resultFolder(c, d, kind);
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    const QByteArray jpeg = Copy2MoveDisk::encodeJpeg(img);
    if (jpeg.isEmpty()) {
        warnLimited(QStringLiteral("cannot encode the image of camera %1 detection %2").arg(c + 1).arg(d + 1));
        return false;
    }
    // Names have one-second resolution; a name already taken moves on to the
    // next second, so no image is written over another.
    QDateTime t = clockNow();
    for (int tries = 0; tries < kMaxNameTries; ++tries, t = t.addSecs(1)) {
        const QString stamp = t.toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
        const QString name = k >= 1 ? QStringLiteral("%1_%2").arg(k).arg(stamp) : stamp;
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".jpg");
        if (QFileInfo::exists(path))
            continue;
        int err = 0;
        if (!Copy2MoveDisk::writeFileAtomic(path, jpeg, false, &err)) {
            if (err == EEXIST)
                continue;
            // Nothing pruned, nothing handed on: the folder keeps what it had.
            warnLimited(QStringLiteral("cannot save %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
            return false;
        }
        pruneFolder(folder, std::max(1, kind == 0 ? gPicNumNG : gPicNumOK), path);
        Copy2MoveDisk::getInstance()->add_map_actqueue(folder, name, jpeg);
        *pathOut = path;
        return true;
    }
    warnLimited(QStringLiteral("no free name in %1").arg(folder));
    return false;
}

void SaveFialImageThread::pruneFolder(const QString& folder, int keep, const QString& spare)
{
    QDir dir(folder);
    QFileInfoList entries = dir.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                              QDir::NoSort);
    const QString spareName = QFileInfo(spare).fileName();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const QFileInfo& f) { return f.fileName() == spareName; }),
                  entries.end());
    const int others = std::max(0, keep - (spare.isEmpty() ? 0 : 1));
    if (entries.size() <= others)
        return;
    // Times read once per entry: a local-time conversion per comparison
    // costs more than the whole save in a full folder.
    struct Entry {
        qint64 ms;
        QString name, path;
    };
    std::vector<Entry> list;
    list.reserve(std::size_t(entries.size()));
    for (const QFileInfo& f : entries)
        list.push_back({f.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch(), f.fileName(), f.filePath()});
    std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) {
        return a.ms != b.ms ? a.ms > b.ms : a.name < b.name;
    });
    for (std::size_t i = std::size_t(others); i < list.size(); ++i)
        QFile::remove(list[i].path);
}
