#pragma once
#include "records/upaninfo.h"

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

class QThread;

// Copies every saved result image onto the USB drive in use, as
// <mount>/monitor_<uuid>/<yyyyMMdd>/<camera/detect/kind>/<name>.jpg, and keeps
// a set number of day folders there. Images wait in a queue of at most 11;
// a task of its own writes one per 50 ms, makes the folders and prunes the
// days, so the result-image writer never waits for the drive.
class Copy2MoveDisk : public QObject
{
    Q_OBJECT
public:
    static Copy2MoveDisk* getInstance();
    ~Copy2MoveDisk() override;

    // runTask false: the caller drives the passes with writeOnce() itself.
    void start(bool runTask = true);
    // Ends the writer task and waits for it; queued images stay queued.
    void stop();
    // The end of the run: ends the writer task, then writes what is queued
    // (one try each) on the caller's thread.
    void finish();
    bool isStopped() const { return stopped; }

    // Queues an image of the local folder srcDir (below "alarmimage") under
    // baseName. The encoded form spares the drive task a second encoding.
    void add_map_actqueue(const QString& srcDir, const QString& baseName, const QImage& image);
    void add_map_actqueue(const QString& srcDir, const QString& baseName, const QByteArray& jpeg);

    // One pass of the writer task without its sleep: writes the first queued
    // image (true when one reached the drive), or empties the queue when no
    // drive is in use.
    bool writeOnce();

    void setDays(int d) { days = d; }
    int getDays() const { return days; }
    // Mount path and UUID of the drive in use, read as one pair.
    QString prepath() const;
    QString deviceId() const;
    int queuedCount() const;
    QStringList queuedPaths() const; // relative to the mount path, in writing order

    // What the settings window does after a committed change: the kept days
    // go to the writer; switching the drive copy on starts it, off stops it.
    void applyCommittedSettings(int days, int useBefore, int useAfter);

    // Writes a whole file under a temporary name and renames it into place.
    // errnoOut gets the error of a failed write. replace: an existing file
    // of that name is replaced, else the rename fails.
    static bool writeFileAtomic(const QString& path, const QByteArray& bytes, bool replace, int* errnoOut = nullptr);
    // Removes the hidden ".<name>.jpg.tmp" files that writes killed midway
    // left anywhere below root (links neither followed nor kept); returns
    // how many went.
    static int removeUnfinished(const QString& root);
    // JPEG at the encoder's default quality, as QImage::save writes it; empty on failure.
    static QByteArray encodeJpeg(const QImage& image);

    // Test seam standing in for a slow or failing drive: called in place of
    // writeFileAtomic for the drive's files.
    using FileWriter = std::function<bool(const QString& path, const QByteArray& bytes, int* err)>;
    void setFileWriter(FileWriter w) { m_writer = std::move(w); }

public slots:
    void diskInfoChange(QVector<UPanInfo> infos);

signals:
    void diskStateChange(bool inUse);

private:
    Copy2MoveDisk();
    struct Drive {
        QString prepath, uuid, device;
    };
    struct Item {
        QImage image;
        QByteArray jpeg;
    };
    Drive drive() const;
    void enqueue(const QString& srcDir, const QString& baseName, Item item);
    bool writeToDrive(const Drive& drv, const QString& key, const Item& item);

    std::atomic<bool> stopped{true};
    QThread* _future = nullptr;
    QMap<QString, Item> actqueue; // key: path below the mount path
    mutable QMutex queueMutex;
    mutable QMutex driveMutex;
    Drive m_drive;
    std::atomic<int> days{31};
    FileWriter m_writer;
    QString m_sweptDrive; // uuid@mount of the drive last cleared of unfinished files (writer task only)
};
