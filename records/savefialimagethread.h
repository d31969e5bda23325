#pragma once
#include <QImage>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

// Takes the result images the cycle leaves in the slot table (gpFailImage,
// gisSaveFail, gFailIndex under pMutexSaveFail), saves each as a JPEG in
// ./alarmimage/camera<c>/detect<d>/{NG,OK}/, keeps each folder to its limit
// and hands the saved image on to the USB copy and the network side.
class SaveFialImageThread : public QThread
{
    Q_OBJECT
public:
    SaveFialImageThread();
    ~SaveFialImageThread() override;

    // The frame size of camera c, as its view has it now.
    using SizeSource = std::function<QSize(int camera)>;
    void setCameraSize(SizeSource s) { m_size = std::move(s); }
    // Receives (camera, detection, ok, full path) of every saved image; the
    // main window connects the network side's cycle record here.
    using PictureSink = std::function<void(int camera, int detection, bool ok, const QString& path)>;
    void setPictureSink(PictureSink s) { m_sink = std::move(s); }
    // The result-image root; "./alarmimage" unless set.
    void setBaseDir(const QString& dir) { m_base = dir; }
    QString baseDir() const { return m_base; }

    // One pass over every camera and detection, with its pacing sleeps.
    // Returns the number of images saved.
    int passOnce();
    void requestStop() { m_stop = true; }
    // The end of the run: one more whole pass, without its pauses, saves
    // every image handed over by now; the thread then ends. Returns when it
    // has.
    void finish();

    // Keeps the newest `keep` entries "*.jpg" of folder (newest mtime first,
    // equal times by name), never removing `spare`.
    static void pruneFolder(const QString& folder, int keep, const QString& spare);
    // The folder of camera c, detection d, kind 0 NG / 1 OK, absolute, clean.
    QString resultFolder(int c, int d, int kind) const;

protected:
    void run() override;

private:
    bool saveOne(int c, int d, int kind, int k, const QImage& img, QString* pathOut);

    struct Pending {
        QImage img;
        int k = 0;
        int kind = 0; // 0 NG folder, 1 OK folder
        bool ok = false;
        bool valid = false;
    };
    Pending m_retry[8][8][2];
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finish{false};
    SizeSource m_size;
    PictureSink m_sink;
    QString m_base = QStringLiteral("./alarmimage");
};

extern SaveFialImageThread* gpSaveFialImageThread;
