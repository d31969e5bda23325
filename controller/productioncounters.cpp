#include "controller/productioncounters.h"
#include "frame/globals.h"

#include <QDir>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <glog/logging.h>

namespace ProductionCounters {

QString filePath()
{
    return QDir::currentPath() + QStringLiteral("/ruv_net/workspace/count.ini");
}

void add(int& counter, int n) { __atomic_add_fetch(&counter, n, __ATOMIC_RELAXED); }
int load(const int& counter) { return __atomic_load_n(&counter, __ATOMIC_RELAXED); }
void store(int& counter, int value) { __atomic_store_n(&counter, value, __ATOMIC_RELAXED); }

namespace {

QStringList listOf(const int (&a)[8])
{
    QStringList l;
    for (const int& v : a)
        l << QString::number(load(v));
    return l;
}

int clamped(const QVariant& v)
{
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    return (ok && n >= 0 && n <= kMaxValue) ? int(n) : 0;
}

void readList(QSettings& s, const char* key, int (&a)[8])
{
    const QStringList l = s.value(QLatin1String(key)).toStringList();
    for (int i = 0; i < l.size() && i < 8; ++i)
        store(a[i], clamped(l.at(i)));
}

void zeroAll()
{
    for (int c = 0; c < 8; ++c) {
        store(gAllNum[c], 0);
        store(gFailNum[c], 0);
        store(gAllCycleNum[c], 0);
        store(gFailCycleNum[c], 0);
    }
    store(gSyncNGNum, 0);
    store(gSyncNGCycleNum, 0);
}

} // namespace

void CountWrite()
{
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    // QSettings replaces the file through a temporary copy that is synced
    // before the rename; sync() makes that happen now, not "some time later".
    QSettings s(filePath(), QSettings::IniFormat);
    s.setAtomicSyncRequired(true);
    s.setValue("list_allnum", listOf(gAllNum));
    s.setValue("list_failnum", listOf(gFailNum));
    s.setValue("gSyncNGNum", load(gSyncNGNum));
    s.setValue("list_allcyclenum", listOf(gAllCycleNum));
    s.setValue("list_failcyclenum", listOf(gFailCycleNum));
    s.setValue("gSyncNGcycleNum", load(gSyncNGCycleNum));
    s.sync();
    if (s.status() != QSettings::NoError)
        LOG(ERROR) << "count.ini could not be written";
}

void CountRead()
{
    zeroAll();
    QSettings s(filePath(), QSettings::IniFormat);
    readList(s, "list_allnum", gAllNum);
    readList(s, "list_failnum", gFailNum);
    readList(s, "list_allcyclenum", gAllCycleNum);
    readList(s, "list_failcyclenum", gFailCycleNum);
    store(gSyncNGNum, clamped(s.value("gSyncNGNum")));
    store(gSyncNGCycleNum, clamped(s.value("gSyncNGcycleNum")));
}

void clearAll()
{
    zeroAll();
    CountWrite();
}

} // namespace ProductionCounters
