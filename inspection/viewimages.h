#pragma once
#include <QImage>
#include <QString>
#include <QVector>

class CameraViewState;

// The images a camera view makes from its frames and results: the annotated
// result images handed to the result-image writer, the template image taken
// from the latest frame, and the ignore masks. The camera view's slots call
// these with the same names.
//
// Files are written beside their final name and renamed over it, so an
// interrupted or failed save leaves the old file whole; a failure is logged
// with the file and the reason and returned. A file that cannot be used
// (unreadable, another size or depth) is left where it is, said once.
class ViewImages
{
public:
    explicit ViewImages(CameraViewState& view) : v(view) {}

    // Composes the OK (ok 1, slot 1) or NG (ok 0, slot 0) image of detect into
    // the result-image slot; the caller raises the slot's flag.
    void SaveFailImage(int detect, int ok);
    // Writes on the image in the slot how the operator cleared the alarm, and
    // moves the alarm-clear state on.
    void UpdateFailImage(int detect, int slot);
    // The latest frame becomes the work frame, the shown frame and template 0
    // of detect, saved as "./cammer<c><d>/template0.bmp".
    bool SaveReTrainImage(int detect);
    // Allocates and fills the ignore mask of every detection in use.
    void LoadIgnorePoint();
    bool SaveIgnorePoint(int detect);

    // Loads template slot k of detect from its file into the view; an
    // unreadable or wrong file leaves the slot invalid.
    bool LoadTemplateImage(int detect, int k);

    QString folder(int detect) const;
    QString templatePath(int detect, int k) const;
    QString ignorePath(int detect) const;

    // The frame buffer (mono: 8-bit with the grey table; colour: 32-bit) as an
    // image, copying row by row so any width is right.
    static QImage wrapFrame(const unsigned char* data, int width, int height, bool colour);
    // Writes image into path through a file beside it; false (old file kept) on failure.
    static bool saveImageFile(const QImage& image, const QString& path);
    // A file that cannot be used: left where it is, logged once.
    static void leaveUnused(const QString& path, const QString& why);

    // Allocates the result-image slots of camera c with pixelCount x 4 bytes
    // each, for every detection; called by the main window for each view.
    static bool AllocFailImageSlots(int camera, int pixelCount);

private:
    CameraViewState& v;
};
