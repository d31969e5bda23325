#pragma once
#include <QString>
#include <QStringList>

class CameraViewState;

// The editor's work on template files and result-image lists, without a
// screen: which slot a new template takes, deleting one or all templates
// (never the base template0.bmp), and paging through saved result JPEGs.
class TemplateStore
{
public:
    // The slot a new template of detection d takes. With free slots the
    // first free one (marked present and counted); when full, the slot of
    // the oldest file other than template0.bmp, whose file is removed (a
    // number outside the slots, or no such file, gives gTempNum - 1).
    static int takeSlot(CameraViewState& v, int d);
    // Copies frame (frameBytes) into the slot and writes its file; the slot
    // or -1 when the file could not be written.
    static int AddTemp(CameraViewState& v, int d, const unsigned char* frame);
    // Slot k > 0: presence off, count down, file removed.
    static bool deleteOne(CameraViewState& v, int d, int k);
    // Every slot but 0: presence off, files removed; count 1, shown index 0.
    static void deleteAll(CameraViewState& v, int d);
    // "yyyy-MM-dd hh.mm.ss" of the template file's last change; empty without file.
    static QString templateTime(int c, int d, int n);

    // Saved result images: "*.jpg" files (no links, no folders), newest first.
    static QStringList resultFiles(const QString& folder);
    static QString resultFolder(int c, int d, bool ok);
    // Range selector items "1~100", "101~200", ... one more than count / 100.
    static QStringList rangeItems(int count);
    // Stepping within the 100-image page of the range selector.
    static int stepBack(int index, int page, int count);
    static int stepForward(int index, int page, int count);
};
