#include "inspection/cammersingleton.h"
#include "frame/dbconfighelpers.h"

#include "controller/mainstate.h"
#include "frame/geometrytools.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "frame/operatorprompt.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

void showFileError()
{
    tellOperator(0);
}

// The parameter database: the main window's connection, or (tools and tests
// without a main window) the connection of the same name.
QSqlDatabase paramDb()
{
    return gpWin ? gpWin->paraDb : QSqlDatabase::database("dbIn", false);
}

// The selection and its synchronisation belong to the editor's detection.
int editingDetect()
{
    const int c = gpWin ? gpWin->editDetect : 0;
    return (c >= 0 && c < CammerSingleton::kDetections) ? c : 0;
}

QStringList tokens(const QString& value)
{
    return value.simplified().split(' ', Qt::SkipEmptyParts);
}

bool number(const QStringList& t, int k, qint64* v)
{
    if (k >= t.size())
        return false;
    bool ok = false;
    *v = t[k].toLongLong(&ok);
    return ok;
}

int clampX(qint64 v)
{
    int x = int(std::clamp<qint64>(v, -1000000, 1000000));
    CheckInRange(&x, 1);
    return x;
}

int clampY(qint64 v)
{
    int y = int(std::clamp<qint64>(v, -1000000, 1000000));
    CheckInRange(&y, 0);
    return y;
}

int toInt(qint64 v)
{
    return int(std::clamp<qint64>(v, INT_MIN, INT_MAX));
}

// The block the last operator new on this thread mapped, until its
// constructor has run: only such a block is known to be a private anonymous
// mapping, where a released page reads back as zeros.
thread_local void* t_freshBlock = nullptr;

std::size_t pageSize()
{
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t mappedSize(std::size_t size)
{
    const std::size_t page = pageSize();
    return (size + page - 1) / page * page;
}

bool allZero(const unsigned char* p, std::size_t n)
{
    // The first byte is zero and every byte equals the one before it.
    return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

} // namespace

void* CammerSingleton::operator new(std::size_t size)
{
    void* p = mmap(nullptr, mappedSize(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    // Small pages, so that a page given back is 4 KiB and not a whole huge page.
    madvise(p, mappedSize(size), MADV_NOHUGEPAGE);
    t_freshBlock = p;
    return p;
}

void CammerSingleton::operator delete(void* p, std::size_t size) noexcept
{
    if (!p)
        return;
    if (t_freshBlock == p)
        t_freshBlock = nullptr;
    munmap(p, mappedSize(size));
}

CammerSingleton::CammerSingleton(int camera, RoiStoreOwner* view)
    : cameraNo(camera), pad0(0), owner(view), roiCount{}, paramA{}, paramB{}, paramC{}, funcType{},
      shapeKind{}, outN{}, detectData{}, selRoi(0), selType(0), selA(0), selB(0), selC(0), pad1(0),
      roiFrom{}
{
    // The shapes' constructors define every byte of their own (the block has
    // no implicit padding), writing zeros over nearly all of it.
    if (t_freshBlock == this) {
        t_freshBlock = nullptr;
        releaseZeroPages();
    }
}

void CammerSingleton::releaseZeroPages()
{
    auto* base = reinterpret_cast<unsigned char*>(this);
    const std::size_t page = pageSize();
    const std::size_t pages = sizeof(*this) / page; // a fresh block starts on a page
    std::size_t runStart = 0, runLength = 0;
    auto release = [&] {
        if (runLength)
            madvise(base + runStart * page, runLength * page, MADV_DONTNEED);
        runLength = 0;
    };
    for (std::size_t k = 0; k < pages; ++k) {
        if (allZero(base + k * page, page)) {
            if (!runLength)
                runStart = k;
            ++runLength;
        } else {
            release();
        }
    }
    release();
}

void CammerSingleton::assignFrom(const CammerSingleton& other)
{
    if (&other == this)
        return;
    auto* dst = reinterpret_cast<unsigned char*>(this);
    const auto* src = reinterpret_cast<const unsigned char*>(&other);
    const std::size_t page = pageSize();
    const std::size_t total = sizeof(*this);
    // Piece by piece along this block's pages: a page is written only when it
    // differs, so pages that are zero on both sides stay unbacked.
    std::size_t off = 0;
    while (off < total) {
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(dst + off);
        const std::size_t end = std::min(total, off + (page - at % page));
        if (std::memcmp(dst + off, src + off, end - off) != 0)
            std::memcpy(dst + off, src + off, end - off);
        off = end;
    }
}

// ---- row texts ------------------------------------------------------------

QString CammerSingleton::detectRowText(int d) const
{
    QString s = QString::number(std::clamp(roiCount[d], 0, kRois));
    for (int k = 0; k < 8; ++k)
        s += ' ' + QString::number(detectData[d][k]);
    return s;
}

QString CammerSingleton::roiRowText(int d, int r) const
{
    const int i = d * kRois + r;
    int k = shapeKind[i];
    if (k == 2 && polygons[i].getHand())
        k = 258;
    QString s = QString("%1 %2 %3 %4 %5 %6 ")
                    .arg(paramC[i]).arg(paramA[i]).arg(paramB[i]).arg(funcType[i]).arg(k).arg(outN[r]);
    switch (shapeKind[i]) {
    case 1: {
        const QRect& q = rects[i].rect;
        s += QString("%1 %2 %3 %4 %5").arg(0).arg(q.left()).arg(q.top()).arg(q.right()).arg(q.bottom());
        break;
    }
    case 4: {
        const Circle& c = circles[i];
        const qint64 p = qint64(c.innerRadius) * 65536 + c.radius;
        s += QString("%1 %2 %3 %4").arg(0).arg(c.cx).arg(c.cy).arg(p);
        break;
    }
    case 2: {
        const RePolygon& p = polygons[i];
        const int n = std::clamp(p.count, 0, RePolygon::kMaxPoints);
        s += QString("%1 ").arg(n);
        s.reserve(s.size() + n * 10);
        for (int j = 0; j < n; ++j)
            s += QString("%1 %2 ").arg(p.points[j].x()).arg(p.points[j].y());
        break;
    }
    default:
        break;
    }
    return s;
}

void CammerSingleton::setDefaultRoi(int d, int r)
{
    const int i = d * kRois + r;
    paramC[i] = 3;
    paramA[i] = 25;
    paramB[i] = 100;
    funcType[i] = 0;
    shapeKind[i] = 1;
    outN[r] = 0;
    rects[i] = ClustomRect();
    rects[i].rect = QRect(QPoint(50, 50), QPoint(100, 100));
}

// ---- loading --------------------------------------------------------------

RoiStoreOwner::~RoiStoreOwner() = default;

void CammerSingleton::LoadDatafromFile(RoiStoreOwner* view)
{
    if (view)
        loadFromTable(view->storeScaleX(), view->storeScaleY(), view->storeLiveMasks());
    else
        loadFromTable(1.0f, 1.0f, nullptr);
}

// Reads one ROI row. Returns 1 when read, 0 when the row is damaged (a
// number missing or not a number), -1 when it asks for the default ROI
// (a polygon with a point count outside 1..8096).
static int parseRoiRow(CammerSingleton& s, int d, int r, const QString& value)
{
    const QStringList t = tokens(value);
    qint64 v[6];
    for (int k = 0; k < 6; ++k)
        if (!number(t, k, &v[k]))
            return 0;
    const int i = d * CammerSingleton::kRois + r;
    const quint32 kRaw = quint32(v[4]); // read as an unsigned number
    const int kind = int(kRaw & 0xFF);
    const bool hand = ((kRaw >> 8) & 0xFF) != 0;

    // Geometry first, so a damaged row leaves the ROI untouched for the caller.
    switch (kind) {
    case 2: {
        qint64 n;
        if (!number(t, 6, &n))
            return 0;
        if (n < 1 || n > RePolygon::kMaxPoints)
            return -1;
        if (t.size() < 7 + 2 * n)
            return 0;
        RePolygon& p = s.polygons[i];
        p = RePolygon();
        for (int j = 0; j < n; ++j) {
            qint64 x, y;
            if (!number(t, 7 + 2 * j, &x) || !number(t, 8 + 2 * j, &y)) {
                p = RePolygon();
                return 0;
            }
            p.points[j] = QPoint(clampX(x), clampY(y));
        }
        p.count = int(n);
        p.SetHand(hand);
        break;
    }
    case 4: {
        qint64 zero, cx, cy, pr;
        if (!number(t, 6, &zero) || !number(t, 7, &cx) || !number(t, 8, &cy) || !number(t, 9, &pr))
            return 0;
        Circle& c = s.circles[i];
        c = Circle();
        c.cx = clampX(cx);
        c.cy = clampY(cy);
        const quint32 p = quint32(pr);
        c.innerRadius = int(p >> 16);
        c.radius = int(p & 0xFFFF);
        c.UpdateRect();
        break;
    }
    case 1: {
        qint64 zero, x1, y1, x2, y2;
        if (!number(t, 6, &zero) || !number(t, 7, &x1) || !number(t, 8, &y1) || !number(t, 9, &x2) ||
            !number(t, 10, &y2))
            return 0;
        ClustomRect& q = s.rects[i];
        q = ClustomRect();
        q.rect = QRect(QPoint(clampX(x1), clampY(y1)), QPoint(clampX(x2), clampY(y2)));
        break;
    }
    default:
        break; // no geometry for other kinds
    }
    s.paramC[i] = toInt(v[0]);
    s.paramA[i] = toInt(v[1]);
    s.paramB[i] = toInt(v[2]);
    s.funcType[i] = toInt(v[3]);
    s.shapeKind[i] = kind;
    s.outN[r] = (v[5] >= 0 && v[5] <= 3) ? int(v[5]) : 0;
    return 1;
}

bool CammerSingleton::parseRoi(int d, int r, const QString& value)
{
    const int res = parseRoiRow(*this, d, r, value);
    if (res == 1)
        return true;
    if (res == 0)
        qWarning() << tableName() << QString("ROI%1-%2").arg(d).arg(r) << "damaged, default ROI used:" << value.left(200);
    setDefaultRoi(d, r);
    return false;
}

void CammerSingleton::finishShape(int i, float sx, float sy, cv::Mat* mask)
{
    cv::Mat m;
    switch (shapeKind[i]) {
    case 1:
        rects[i].setShowA(sx, sy);
        rects[i].setImageRect();
        m = rects[i].UpdateMask();
        break;
    case 4:
        circles[i].setShowA(sx, sy);
        circles[i].setImageRect();
        m = circles[i].UpdateMask();
        break;
    case 2:
        polygons[i].setShowA(sx, sy);
        polygons[i].setImageRect();
        m = polygons[i].UpdateMask();
        break;
    default:
        return;
    }
    if (mask)
        *mask = m;
}

void CammerSingleton::loadFromTable(float sx, float sy, cv::Mat (*masks)[kRois])
{
    QSqlDatabase db = paramDb();
    if (!db.isOpen()) {
        qWarning() << tableName() << ": PARAM.db is not open, camera has no ROIs";
        return;
    }
    QSqlQuery local;
    if (!gpWin)
        local = QSqlQuery(db);
    QSqlQuery& q = gpWin ? gpWin->paraQuery : local;
    const QString table = tableName();
    clearOrigins();
    // The table comes with PARAM.db; an older file without it gets an empty one.
    if (!q.exec(QString("create table if not exists %1(name text, value text)").arg(table)))
        qWarning() << table << ": cannot create:" << q.lastError().text();
    bool sqlErrorLogged = false;
    auto sqlError = [&](const QString& what) {
        if (!sqlErrorLogged)
            qWarning() << table << what << q.lastError().text();
        sqlErrorLogged = true;
    };

    for (int d = 0; d < kDetections; ++d) {
        const QString detName = QString("detect%1").arg(d);
        q.prepare(QString("select value from %1 where name=?").arg(table));
        q.addBindValue(detName);
        if (!q.exec())
            sqlError(": select failed:");
        if (q.isActive() && q.next()) {
            const QString value = q.value(0).toString();
            const QStringList t = tokens(value);
            qint64 v[9] = {};
            bool countOk = t.isEmpty() || number(t, 0, &v[0]);
            for (int k = 1; k < 9 && k < t.size(); ++k)
                if (!number(t, k, &v[k]))
                    qWarning() << table << detName << "value" << k << "is not a number, taken as 0:" << value;
            for (int k = 0; k < 8; ++k)
                detectData[d][k] = toInt(v[k + 1]);
            if (!countOk) {
                qWarning() << table << detName << "damaged:" << value.left(200);
                v[0] = -1;
            }
            roiCount[d] = (v[0] >= 0 && v[0] <= kRois) ? int(v[0]) : -1;
        } else {
            roiCount[d] = 0;
            q.prepare(QString("insert into %1 values(?, '0')").arg(table));
            q.addBindValue(detName);
            if (!q.exec())
                sqlError(": insert failed:");
        }
        if (roiCount[d] < 0) {
            showFileError();
            roiCount[d] = 0;
            continue;
        }
        for (int r = 0; r < roiCount[d]; ++r) {
            const int i = d * kRois + r;
            q.prepare(QString("select value from %1 where name=?").arg(table));
            q.addBindValue(QString("ROI%1-%2").arg(d).arg(r));
            if (!q.exec())
                sqlError(": select failed:");
            if (q.isActive() && q.next())
                parseRoi(d, r, q.value(0).toString());
            else
                setDefaultRoi(d, r);
            finishShape(i, sx, sy, masks ? &masks[d][r] : nullptr);
        }
    }
    q.finish();
}

// ---- saving ---------------------------------------------------------------

bool CammerSingleton::SaveDatatoFile()
{
    QSqlDatabase db = paramDb();
    const QString table = tableName();
    if (!db.isOpen()) {
        qWarning() << table << ": PARAM.db is not open, ROIs not saved";
        return false;
    }
    QSqlQuery local;
    if (!gpWin)
        local = QSqlQuery(db);
    QSqlQuery& q = gpWin ? gpWin->paraQuery : local;
    q.finish();
    // One transaction for the whole camera: a power cut or crash in the middle
    // leaves the old store, never a detection row without its ROI rows.
    const bool tx = db.transaction();
    if (!tx) // inside a caller's transaction the save is atomic with it; else statement by statement
        qWarning() << table << ": saving without a transaction of its own:" << db.lastError().text();
    bool ok = q.exec(QString("create table if not exists %1(name text, value text)").arg(table));
    auto write = [&](const QString& name, const QString& value) {
        if (!ok)
            return;
        ok = writeNameValueRow(q, table, name, value);
    };
    for (int d = 0; d < kDetections && ok; ++d) {
        write(QString("detect%1").arg(d), detectRowText(d));
        const int n = std::clamp(roiCount[d], 0, kRois);
        for (int r = 0; r < n && ok; ++r)
            write(QString("ROI%1-%2").arg(d).arg(r), roiRowText(d, r));
        for (int r = n; r < kRois && ok; ++r) {
            q.prepare(QString("delete from %1 where name=?").arg(table));
            q.addBindValue(QString("ROI%1-%2").arg(d).arg(r));
            ok = q.exec();
        }
    }
    const QString err = q.lastError().text();
    q.finish();
    if (ok && (!tx || db.commit()))
        return true;
    qWarning() << table << ": ROIs not saved:" << (ok ? db.lastError().text() : err);
    if (tx)
        db.rollback();
    return false;
}

// ---- selection and synchronisation ------------------------------------------

void CammerSingleton::setSelectRoi(int r)
{
    const int c = editingDetect();
    if (r < 0 || r >= roiCount[c] || r >= kRois)
        return;
    const int i = c * kRois + r;
    selRoi = r;
    selType = funcType[i];
    selA = paramA[i];
    selB = paramB[i];
    selC = paramC[i];
}

void CammerSingleton::syncParam(int r)
{
    const int c = editingDetect();
    if (r < 0 || r >= roiCount[c] || r >= kRois)
        return;
    const int i = c * kRois + r;
    const int dA = paramA[i] - selA;
    const int dB = paramB[i] - selB;
    const int dC = paramC[i] - selC;
    for (int k = 0; k < roiCount[c] && k < kRois; ++k) {
        const int j = c * kRois + k;
        if (k == selRoi || funcType[j] != funcType[i])
            continue;
        paramA[j] += dA;
        paramB[j] += dB;
        paramC[j] += dC;
    }
    setSelectRoi(r);
}

// ---- copying between detections ---------------------------------------------

void CammerSingleton::getCopyParamIndex(int from, int& to)
{
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    const int mold = gpWPara ? gpWPara->moldSelect : 0;
    if (mode == 3) {
        to = (from + 1 >= gDNum) ? 0 : from + 1;
    } else if (mode == 1 || mode == 2) {
        if (mold == 2)
            to = (from == 0 || from == 1) ? from + 2 : from - 2;
        else if (mold == 1)
            to = (from == 2) ? 3 : 2;
        else
            to = (from == 0) ? 1 : 0;
    } else {
        to = (from == 0) ? 1 : 0;
    }
}

void CammerSingleton::getCopyParamDescri(int from, int to, QString& fromText, QString& toText)
{
    const int mode = gpWPara ? gpWPara->systemMode : 0;
    auto describe = [mode](int d) {
        if (mode == 3)
            return MessageTable::text(755).arg(d);
        if (mode == 1 || mode == 2)
            return (d >= 0 && d <= 3) ? MessageTable::text(372 + d) : QString();
        return MessageTable::text(d == 0 ? 753 : 754);
    };
    fromText = describe(from);
    toText = describe(to);
}

void CammerSingleton::copyDetection(int from, int to, cv::Mat (*masks)[kRois])
{
    if (from < 0 || from >= kDetections || to < 0 || to >= kDetections || from == to)
        return;
    roiCount[to] = std::clamp(roiCount[from], 0, kRois);
    for (int r = 0; r < roiCount[to]; ++r) {
        const int f = from * kRois + r;
        const int t = to * kRois + r;
        switch (shapeKind[f]) {
        case 1:
            rects[t] = rects[f];
            rects[t].SetSelected(false);
            break;
        case 2:
            polygons[t] = polygons[f];
            polygons[t].SetSelected(false);
            break;
        case 4:
            circles[t] = circles[f];
            circles[t].SetSelected(false);
            break;
        default:
            break;
        }
        if (masks)
            masks[to][r] = masks[from][r]; // shared pixel data: masks are replaced, never written in place
        shapeKind[t] = shapeKind[f];
        paramC[t] = paramC[f];
        paramA[t] = paramA[f];
        paramB[t] = paramB[f];
        funcType[t] = funcType[f];
    }
}

void CammerSingleton::copyParam(int from, int to)
{
    QString fromText, toText;
    getCopyParamDescri(from, to, fromText, toText);
    if (!askOperator(-1, QCoreApplication::translate("CammerSingleton", "确定要同步%1参数到%2吗？").arg(fromText, toText)))
        return;
    copyDetection(from, to, owner ? owner->storeEditMasks() : nullptr);
    // The detection's regions are replaced, not edited.
    if (to >= 0 && to < kDetections && to != from)
        for (int r = 0; r < roiCount[to]; ++r)
            setOrigin(to, r, -1);
}

int CammerSingleton::origin(int d, int r) const
{
    if (d < 0 || d >= kDetections || r < 0 || r >= kRois)
        return -1;
    const int v = roiFrom[d * kRois + r];
    return v == 0 ? r : v < 0 ? -1 : v - 1;
}

void CammerSingleton::setOrigin(int d, int r, int from)
{
    if (d < 0 || d >= kDetections || r < 0 || r >= kRois)
        return;
    roiFrom[d * kRois + r] = from == r ? 0 : from < 0 || from >= kRois ? -1 : from + 1;
}

void CammerSingleton::clearOrigins()
{
    // Written only where set, so that untouched pages stay unbacked.
    for (int& v : roiFrom)
        if (v)
            v = 0;
}

void CammerSingleton::copyParam(int from)
{
    int to = 0;
    getCopyParamIndex(from, to);
    copyParam(from, to);
}
