#include "inspection/viewimages.h"
#include "frame/safefile.h"
#include <glog/logging.h>

#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/imagetools.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameraviewstate.h"
#include "inspection/cammersingleton.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImageReader>
#include <QMutex>
#include <QSet>
#include <QImageWriter>
#include <QMutexLocker>
#include <QPainter>
#include <QPolygon>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

QVector<QRgb> greyTable()
{
    if (gpWin && gpWin->grayTable && gpWin->grayTable->size() == 256)
        return QVector<QRgb>(gpWin->grayTable->begin(), gpWin->grayTable->end());
    QVector<QRgb> t(256);
    for (int i = 0; i < 256; ++i)
        t[i] = qRgb(i, i, i);
    return t;
}

PixelBuffer* slotBuffer(int camera, int d, int slot)
{
    if (camera < 0 || camera >= 8 || d < 0 || d >= 8 || slot < 0 || slot > 1)
        return nullptr;
    return &gpFailImage[camera][d][slot];
}

QString limitText(const CammerSingleton& s, int i)
{
    const WizardPara* p = gpWPara;
    const int type = s.funcType[i], A = s.paramA[i], B = s.paramB[i];
    switch (type) {
    case 0:
        if (p && !p->showAllParam)
            return QString::number(p->alarmArea);
        return QString::number(B);
    case 6: return QString::number(A);
    case 1: return QString("%1--%2").arg(A).arg(B);
    case 7:
    case 8: return QString("%1--%2").arg(unsigned(B) & 0xFFFFu).arg(unsigned(B) >> 16);
    case 9: return QString("%1, %2").arg(p ? p->colorAreaMin : 0).arg(p ? p->colorAreaMax : 0);
    default: return QString::number(B);
    }
}

} // namespace

QString ViewImages::folder(int d) const
{
    return QString("./cammer%1%2").arg(v.cameraIndex + 1).arg(d + 1);
}

QString ViewImages::templatePath(int d, int k) const
{
    return QString("%1/template%2.bmp").arg(folder(d)).arg(k);
}

QString ViewImages::ignorePath(int d) const { return folder(d) + "/ignorepoint.bmp"; }

bool ViewImages::AllocFailImageSlots(int camera, int pixelCount)
{
    if (camera < 0 || camera >= 8 || pixelCount <= 0)
        return false;
    bool ok = true;
    QMutexLocker lock(pMutexSaveFail);
    for (int d = 0; d < 8; ++d)
        for (int s = 0; s < 2; ++s)
            if (gpFailImage[camera][d][s].size() != size_t(pixelCount) * 4)
                ok = gpFailImage[camera][d][s].allocate(size_t(pixelCount) * 4) && ok;
    if (!ok)
        qWarning("result images: no memory for the slots of camera %d", camera);
    return ok;
}

void ViewImages::SaveFailImage(int d, int ok)
{
    if (d < 0 || d >= 8 || !v.liveStore || v.pixelCount <= 0)
        return;
    const size_t bytes = size_t(v.pixelCount) * 4;
    if (v.imageBits.size() < bytes && !v.imageBits.allocate(bytes))
        return;
    if (v.workFrame.size() < size_t(v.frameBytes))
        return;
    if (v.isColor)
        std::memcpy(v.imageBits.data(), std::as_const(v.workFrame).data(), bytes);
    else
        Gray2RGBA(const_cast<uchar*>(std::as_const(v.workFrame).data()), reinterpret_cast<int*>(v.imageBits.data()), v.imageWidth, v.imageHeight);
    QImage img(v.imageBits.data(), v.imageWidth, v.imageHeight, v.imageWidth * 4, QImage::Format_RGB32);
    {
        QPainter painter(&img);
        QFont font("wqy-microhei");
        font.setPixelSize(26);
        painter.setFont(font);
        painter.setPen(QPen(ok ? Qt::green : Qt::red, 1));
        painter.drawText(5, 80, ok ? "OK" : "NG");
        painter.drawText(5, 110, gpWin && gpWin->safetyDoorInspection ? messageText(265) : QString());
        font.setPixelSize(16);
        painter.setFont(font);
        QPoint anchor(5, 80);
        const CammerSingleton& s = *v.liveStore;
        const int camera = v.cameraIndex;
        for (int r = 0; r < std::clamp(s.roiCount[d], 0, 100); ++r) {
            const int i = d * CammerSingleton::kRois + r;
            const bool roiOk = v.roiResult[d][r] != 0;
            if (!roiOk) {
                {
                    QMutexLocker lock(pMutexSaveFail);
                    if (camera >= 0 && camera < 8 && gFailIndex[camera][d] == 0)
                        gFailIndex[camera][d] = r + 1;
                }
                painter.setPen(QPen(Qt::red, 1));
                const int spots = std::clamp(v.spotRects[d][r][0][0], 0, CameraViewState::kSpots - 1);
                for (int k = 1; k <= spots; ++k) {
                    const cv::Vec4i& q = v.spotRects[d][r][k];
                    painter.drawRect(QRect(QPoint(q[0], q[1]), QPoint(q[2] - 1, q[3] - 1)));
                }
            } else {
                painter.setPen(QPen(Qt::green, 1));
            }
            switch (s.shapeKind[i]) {
            case 1:
                painter.drawRect(s.rects[i].imageRect);
                anchor = s.rects[i].imageRect.topLeft();
                break;
            case 4:
                painter.scale(1.0 / v.roiScaleX, 1.0 / v.roiScaleY);
                s.circles[i].Draw(painter);
                painter.scale(v.roiScaleX, v.roiScaleY);
                anchor = s.circles[i].imageRect.topLeft();
                break;
            default: {
                const RePolygon& poly = s.polygons[i];
                const int count = std::clamp(poly.count, 0, RePolygon::kMaxPoints);
                if (count > 0) {
                    painter.drawPolygon(poly.imagePoints, count, Qt::OddEvenFill);
                    anchor = poly.imagePoints[0];
                }
                break;
            }
            }
            painter.setPen(QPen(roiOk ? Qt::green : Qt::red, 1));
            const QString value = QString::number(v.roiValue[d][r]);
            const QString caption = s.roiCount[d] > 36
                                        ? QString("%1: %2").arg(r + 1).arg(value)
                                        : QString("%1: %2 / %3 ").arg(r + 1).arg(limitText(s, i)).arg(value);
            painter.drawText(QRect(anchor.x(), anchor.y() - 26, 400, 25), Qt::AlignLeft | Qt::AlignVCenter, caption);
        }
    }
    PixelBuffer* slot = slotBuffer(v.cameraIndex, d, ok ? 1 : 0);
    if (!slot)
        return;
    QMutexLocker lock(pMutexSaveFail);
    if (slot->size() < bytes) {
        qWarning("result images: slot of camera %d detection %d holds %zu bytes, the image needs %zu: not copied",
                 v.cameraIndex, d, slot->size(), bytes);
        return;
    }
    std::memcpy(slot->data(), v.imageBits.data(), bytes);
}

void ViewImages::UpdateFailImage(int d, int slotNo)
{
    PixelBuffer* slot = slotBuffer(v.cameraIndex, d, slotNo);
    if (!slot || v.pixelCount <= 0)
        return;
    const size_t bytes = size_t(v.pixelCount) * 4;
    QImage img(v.imageWidth, v.imageHeight, QImage::Format_RGB32);
    if (img.isNull() || size_t(img.sizeInBytes()) < bytes)
        return;
    {
        QMutexLocker lock(pMutexSaveFail);
        if (slot->size() < bytes) {
            qWarning("result images: slot of camera %d detection %d is too small to label", v.cameraIndex, d);
            return;
        }
        std::memcpy(img.bits(), slot->data(), bytes);
    }
    QString prefix, method;
    if (gpWin) {
        int& state = gpWin->alarmClearState[v.cameraIndex & 7][d];
        switch (state) {
        case 4: prefix = messageText(120); method = messageText(47); state = 9; break;
        case 5: prefix = messageText(120); method = messageText(48); state = 9; break;
        case 6: prefix = messageText(120); method = messageText(338); state = 9; break;
        case 7: prefix = messageText(120); method = messageText(61); state = 8; break;
        case 8: prefix = messageText(143); state = 10; break;
        default: break;
        }
    }
    {
        QPainter painter(&img);
        QFont font("wqy-microhei");
        font.setPixelSize(26);
        painter.setFont(font);
        painter.setPen(QPen(Qt::red, 1));
        painter.drawText(55, 80, QString("%1%2").arg(prefix, method));
    }
    QMutexLocker lock(pMutexSaveFail);
    std::memcpy(slot->data(), img.constBits(), bytes);
}

QImage ViewImages::wrapFrame(const unsigned char* data, int width, int height, bool colour)
{
    if (!data || width <= 0 || height <= 0)
        return QImage();
    QImage img(width, height, colour ? QImage::Format_RGB32 : QImage::Format_Indexed8);
    if (img.isNull())
        return img;
    if (!colour)
        img.setColorTable(greyTable());
    const int rowBytes = colour ? width * 4 : width;
    for (int y = 0; y < height; ++y)
        std::memcpy(img.scanLine(y), data + size_t(y) * size_t(rowBytes), size_t(rowBytes));
    return img;
}

void ViewImages::leaveUnused(const QString& path, const QString& why)
{
    // Said once per file and reason: the views load their files again at
    // every camera change and retraining.
    static QMutex mutex;
    static QSet<QString> said;
    QMutexLocker lock(&mutex);
    if (!said.contains(path + why)) {
        said.insert(path + why);
        LOG(WARNING) << path.toStdString() << ": " << why.toStdString();
    }
}

bool ViewImages::saveImageFile(const QImage& image, const QString& path)
{
    if (image.isNull()) {
        qWarning("%s: not saved: no image", qPrintable(path));
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        qWarning("%s: not saved: cannot make folder %s", qPrintable(path), qPrintable(dir));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("%s: not saved: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    QImageWriter writer(&file, "bmp");
    if (!writer.write(image)) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        file.cancelWriting();
        qWarning("%s: not saved: %s", qPrintable(path), qPrintable(why));
        return false;
    }
    if (!file.commit()) {
        qWarning("%s: not saved: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool ViewImages::SaveReTrainImage(int d)
{
    if (d < 0 || d >= 8 || v.frameBytes <= 0)
        return false;
    const size_t bytes = size_t(v.frameBytes);
    if (v.frameBuffer.size() < bytes)
        return false;
    if (v.workFrame.size() < bytes && !v.workFrame.allocate(bytes))
        return false;
    if (v.workFrame.size() == v.frameBuffer.size())
        v.workFrame.share(v.frameBuffer);
    else
        std::memcpy(v.workFrame.data(), std::as_const(v.frameBuffer).data(), bytes);
    if (v.displayBuffer.size() == v.workFrame.size())
        v.displayBuffer.assign(v.workFrame);
    else if (v.displayBuffer.size() >= bytes)
        std::memcpy(v.displayBuffer.data(), std::as_const(v.workFrame).data(), bytes);
    if (v.templateImages[d].empty())
        v.templateImages[d].resize(size_t(std::max(1, gTempNum)));
    if (v.templateValid[d].size() < v.templateImages[d].size())
        v.templateValid[d].resize(v.templateImages[d].size(), 0);
    PixelBuffer& t0 = v.templateImages[d][0];
    if (t0.size() < bytes && !t0.allocate(bytes))
        return false;
    std::memcpy(t0.data(), std::as_const(v.workFrame).data(), bytes);
    v.templateValid[d][0] = 1;
    return saveImageFile(wrapFrame(t0.data(), v.imageWidth, v.imageHeight, v.isColor), templatePath(d, 0));
}

bool ViewImages::LoadTemplateImage(int d, int k)
{
    if (d < 0 || d >= 8 || k < 0 || v.frameBytes <= 0)
        return false;
    if (v.templateImages[d].size() <= size_t(k))
        v.templateImages[d].resize(size_t(k) + 1);
    if (v.templateValid[d].size() < v.templateImages[d].size())
        v.templateValid[d].resize(v.templateImages[d].size(), 0);
    v.templateValid[d][size_t(k)] = 0;
    const QString path = templatePath(d, k);
    if (!QFile::exists(path))
        return false;
    QString why;
    QImage img = readImageFile(path, &why);
    const QImage::Format want = v.isColor ? QImage::Format_RGB32 : QImage::Format_Grayscale8;
    if (img.isNull()) {
        // why says what kept it from being read
    } else if (img.width() != v.imageWidth || img.height() != v.imageHeight)
        why = QString("%1x%2, the camera gives %3x%4").arg(img.width()).arg(img.height()).arg(v.imageWidth).arg(v.imageHeight);
    else if (!v.isColor && img.format() != QImage::Format_Indexed8 && img.format() != QImage::Format_Grayscale8)
        why = "not an 8-bit image";
    else if (v.isColor && img.depth() < 24)
        why = "not a colour image";
    if (!why.isEmpty()) {
        leaveUnused(path, why + "; the slot stays empty, the file is left as it is");
        return false;
    }
    img = img.convertToFormat(want);
    PixelBuffer& buf = v.templateImages[d][size_t(k)];
    if (buf.size() < size_t(v.frameBytes) && !buf.allocate(size_t(v.frameBytes)))
        return false;
    const int rowBytes = v.isColor ? v.imageWidth * 4 : v.imageWidth;
    for (int y = 0; y < v.imageHeight; ++y)
        std::memcpy(buf.data() + size_t(y) * size_t(rowBytes), img.constScanLine(y), size_t(rowBytes));
    v.templateValid[d][size_t(k)] = 1;
    return true;
}

void ViewImages::LoadIgnorePoint()
{
    const int n = std::min(8, (gpWPara && gpWPara->systemMode == 3) ? 8 : gDNum);
    if (n < 1 || v.pixelCount <= 0)
        return;
    for (int d = 0; d < n; ++d) {
        PixelBuffer& mask = v.ignoreMasks[d];
        if (!mask.allocate(size_t(v.pixelCount)))
            continue; // allocate() gives zero bytes
        const QString path = ignorePath(d);
        if (!QFile::exists(path))
            continue;
        QString why;
        const QImage img = readImageFile(path, &why);
        if (img.isNull()) {
            // why says what kept it from being read
        } else if (img.width() != v.imageWidth || img.height() != v.imageHeight)
            why = QString("%1x%2, the camera gives %3x%4").arg(img.width()).arg(img.height()).arg(v.imageWidth).arg(v.imageHeight);
        else if (img.format() != QImage::Format_Indexed8 && img.format() != QImage::Format_Grayscale8)
            why = "not an 8-bit mask";
        if (!why.isEmpty()) {
            // Nothing ignored rather than a guess. The file stays: a mask of
            // another size or depth belongs to another camera (a swapped
            // cable, a renumbering), and one that cannot be read is the
            // operator's to look at; saving the mask again replaces it.
            leaveUnused(path, why + ", nothing is ignored; the file is left as it is");
            continue;
        }
        // An indexed mask holds the byte itself as its index (grey table).
        for (int y = 0; y < v.imageHeight; ++y)
            std::memcpy(mask.data() + size_t(y) * size_t(v.imageWidth), img.constScanLine(y), size_t(v.imageWidth));
    }
}

bool ViewImages::SaveIgnorePoint(int d)
{
    if (d < 0 || d >= 8 || v.ignoreMasks[d].size() < size_t(std::max(0, v.pixelCount)) || v.pixelCount <= 0)
        return false;
    return saveImageFile(wrapFrame(v.ignoreMasks[d].data(), v.imageWidth, v.imageHeight, false), ignorePath(d));
}
