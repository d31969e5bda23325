#include "inspection/templatestore.h"
#include "frame/globals.h"
#include "inspection/cameraviewstate.h"
#include "inspection/viewimages.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace {

bool validDetection(const CameraViewState& v, int d)
{
    return d >= 0 && d < CameraViewState::kDetections && int(v.templateValid[d].size()) >= gTempNum &&
           int(v.templateImages[d].size()) >= gTempNum;
}

} // namespace

int TemplateStore::takeSlot(CameraViewState& v, int d)
{
    if (!validDetection(v, d) || gTempNum < 1)
        return -1;
    if (v.templateCount[d] < gTempNum) {
        for (int k = 0; k < gTempNum; ++k)
            if (!v.templateValid[d][size_t(k)]) {
                v.templateValid[d][size_t(k)] = 1;
                ++v.templateCount[d];
                return k;
            }
    }
    const ViewImages images(v);
    QDir dir(images.folder(d));
    const QFileInfoList files = dir.entryInfoList({"template*.bmp"}, QDir::Files, QDir::Time | QDir::Reversed);
    int slot = gTempNum - 1;
    for (const QFileInfo& f : files) {
        if (f.fileName() == "template0.bmp")
            continue;
        bool ok = false;
        const int n = f.fileName().mid(8, f.fileName().size() - 12).toInt(&ok);
        QFile::remove(f.absoluteFilePath());
        slot = ok && n >= 1 && n < gTempNum ? n : gTempNum - 1;
        break;
    }
    // The base template is never replaced.
    return std::max(slot, std::min(1, gTempNum - 1));
}

int TemplateStore::AddTemp(CameraViewState& v, int d, const unsigned char* frame)
{
    const int k = takeSlot(v, d);
    if (k < 0 || !frame)
        return -1;
    PixelBuffer& slot = v.templateImages[d][size_t(k)];
    if (slot.size() != size_t(v.frameBytes))
        slot.allocate(size_t(v.frameBytes));
    std::memcpy(slot.data(), frame, size_t(v.frameBytes));
    v.templateValid[d][size_t(k)] = 1;
    const ViewImages images(v);
    QDir().mkpath(images.folder(d));
    const QImage img = ViewImages::wrapFrame(slot.data(), v.imageWidth, v.imageHeight, v.isColor);
    return ViewImages::saveImageFile(img, images.templatePath(d, k)) ? k : -1;
}

bool TemplateStore::deleteOne(CameraViewState& v, int d, int k)
{
    if (!validDetection(v, d) || k <= 0 || k >= gTempNum || !v.templateValid[d][size_t(k)])
        return false;
    v.templateValid[d][size_t(k)] = 0;
    v.templateCount[d] = std::max(1, v.templateCount[d] - 1);
    QFile::remove(ViewImages(v).templatePath(d, k));
    return true;
}

void TemplateStore::deleteAll(CameraViewState& v, int d)
{
    if (!validDetection(v, d))
        return;
    v.templateCount[d] = 1;
    v.curTemplate = 0;
    for (int k = 1; k < gTempNum; ++k)
        v.templateValid[d][size_t(k)] = 0;
    QDir dir(ViewImages(v).folder(d));
    for (const QFileInfo& f : dir.entryInfoList({"template*"}, QDir::Files))
        if (!f.fileName().contains("template0.bmp"))
            QFile::remove(f.absoluteFilePath());
}

QString TemplateStore::templateTime(int c, int d, int n)
{
    const QFileInfo f(QString("./cammer%1%2/template%3.bmp").arg(c + 1).arg(d + 1).arg(n));
    return f.exists() ? f.lastModified().toString("yyyy-MM-dd hh.mm.ss") : QString();
}

QStringList TemplateStore::resultFiles(const QString& folder)
{
    QStringList out;
    for (const QFileInfo& f : QDir(folder).entryInfoList({"*.jpg"}, QDir::Files | QDir::NoSymLinks, QDir::Time))
        out << f.fileName();
    return out;
}

QString TemplateStore::resultFolder(int c, int d, bool ok)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(
        QString("alarmimage/camera%1/detect%2/%3").arg(c + 1).arg(d + 1).arg(ok ? "OK" : "NG")));
}

QStringList TemplateStore::rangeItems(int count)
{
    QStringList out;
    for (int k = 0; k <= std::max(0, count) / 100; ++k)
        out << QString("%1~%2").arg(100 * k + 1).arg(100 * (k + 1));
    return out;
}

int TemplateStore::stepBack(int index, int page, int count)
{
    --index;
    if (index < 0 || index / 100 < page)
        index = 100 * (page + 1) - 1;
    return std::max(0, std::min(index, count - 1));
}

int TemplateStore::stepForward(int index, int page, int count)
{
    ++index;
    if (page < index / 100 || index >= count)
        index = 100 * page;
    return index;
}
