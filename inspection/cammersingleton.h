#pragma once
#include "inspection/circle.h"
#include "inspection/clustomrect.h"
#include "inspection/repolygon.h"

#include <QString>
#include <opencv2/core.hpp>

#include <cstddef>
#include <type_traits>

class QSqlQuery;

// What a store needs of the camera view that owns it: the view's scale from
// frame to screen and its mask arrays (8 detections x 100 ROIs).
using RoiMaskRow = cv::Mat[100]; // the masks of one detection's ROIs

class RoiStoreOwner
{
public:
    virtual ~RoiStoreOwner();
    virtual float storeScaleX() const = 0;
    virtual float storeScaleY() const = 0;
    virtual RoiMaskRow* storeLiveMasks() = 0;
    virtual RoiMaskRow* storeEditMasks() = 0;
};

// Everything the operator teaches one camera: for each of its 8 detections up
// to 100 ROIs with function type, parameters A, B, C, output group and shape.
// One flat block without heap parts of its own: the ROI editor copies a store
// with one memcpy and compares two with one memcmp, so every byte (padding
// included) is defined. About 99 MiB, nearly all of it the point arrays of
// the 800 polygons, which stay zero beyond the points in use: `new` gives each
// store fresh zero pages of its own, the constructor hands the pages it left
// zero back to the system, and assignFrom() copies without writing pages that
// are already equal, so a store costs memory for the ROIs it holds, not for
// its size. The bytes are the same either way.
//
// Stored in PARAM.db, table "cammer<camera>" (name, value): rows "detect<d>"
// = "N a1 .. a8" and "ROI<d>-<r>" = "C A B T K O " + shape text.
class CammerSingleton
{
public:
    static constexpr int kDetections = 8;
    static constexpr int kRois = 100;
    static constexpr int kAll = kDetections * kRois;

    CammerSingleton(int camera, RoiStoreOwner* owner);
    ~CammerSingleton() = default; // the shapes are plain values

    // Every store gets a private zero-filled mapping of its own.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

    // The same bytes as a block copy of other; pages that already hold them
    // are not written, so untouched parts stay unbacked.
    void assignFrom(const CammerSingleton& other);

    // Fills the store from its table. view is the owning camera view: its
    // scale factors go to the shapes, its live masks receive the masks.
    void LoadDatafromFile(RoiStoreOwner* view);
    // The same with the scale factors and the mask array given directly
    // (masks may be null).
    void loadFromTable(float roiScaleX, float roiScaleY, cv::Mat (*masks)[kRois]);
    // Writes the whole store into its table as one transaction: after a crash
    // the table holds either the old or the new store. False when it failed
    // (the table is then unchanged).
    bool SaveDatatoFile();

    void setSelectRoi(int r);
    void syncParam(int r);
    void getCopyParamIndex(int from, int& to);
    void getCopyParamDescri(int from, int to, QString& fromText, QString& toText);
    // Copies all ROIs of detection from onto detection to after the operator
    // confirms; the owner's edit masks of to share those of from.
    void copyParam(int from, int to);
    void copyParam(int from);
    // The copy itself, without the question; masks may be null.
    void copyDetection(int from, int to, cv::Mat (*masks)[kRois]);

    // The table of this camera and the exact row texts.
    QString tableName() const { return QString("cammer%1").arg(cameraNo); }
    QString detectRowText(int d) const;
    QString roiRowText(int d, int r) const;
    // Makes ROI i the default ROI: C 3, A 25, B 100, type 0, rectangle
    // (50, 50)-(100, 100); outN[r] 0.
    void setDefaultRoi(int d, int r);

    // Which ROI of the store this one was copied from (for the editor's
    // copy, the live store) ROI r of detection d is: its index there, or -1
    // for a region made since. Deleting a region moves the later ones up, so
    // their numbers change but not what they are. A store as loaded or
    // committed is its own origin.
    int origin(int d, int r) const;
    void setOrigin(int d, int r, int from);
    void clearOrigins();

    // ---- the block; field order is the stored layout, do not reorder ----
    int cameraNo;
    int pad0;                 // explicit padding, always zero
    RoiStoreOwner* owner;
    int roiCount[kDetections];
    int paramA[kAll];
    int paramB[kAll];
    int paramC[kAll];
    int funcType[kAll];
    ClustomRect rects[kAll];
    Circle circles[kAll];
    RePolygon polygons[kAll];
    int shapeKind[kAll];      // 1 rectangle, 2 polygon or free-hand, 4 ring
    int outN[kRois];          // output group of ROI number r, all detections
    int detectData[kDetections][8];
    int selRoi;
    int selType;
    int selA;
    int selB;
    int selC;
    int pad1;                 // explicit padding, always zero
    // ---- editing only, never stored ----
    int roiFrom[kAll];        // origin() as 0 (the same index), -1 (new) or index + 1

private:
    // Returns the whole pages of a fresh mapping that hold only zero bytes.
    void releaseZeroPages();
    bool parseRoi(int d, int r, const QString& value);
    void finishShape(int i, float sx, float sy, cv::Mat* mask);
};

static_assert(std::is_trivially_copyable<CammerSingleton>::value, "the store is copied as one block");
static_assert(sizeof(CammerSingleton) ==
                  2 * sizeof(int) + sizeof(void*) + 8 * sizeof(int) + 4 * 800 * sizeof(int) +
                      800 * (sizeof(ClustomRect) + sizeof(Circle) + sizeof(RePolygon)) + 800 * sizeof(int) +
                      100 * sizeof(int) + 64 * sizeof(int) + 6 * sizeof(int) + 800 * sizeof(int),
              "the store has no implicit padding");
