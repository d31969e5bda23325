#include "controller/productioncounters.h"
#include "frame/globals.h"

#include <QDir>
#include <QSaveFile>
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
    // Written as QSettings reads it, but without QSettings' writer: its lock
    // file, left behind by a kill or a power cut, can stall the next write
    // for half a minute. QSaveFile writes a temporary copy, syncs it and
    // renames it over the old file: the file holds the new counts or the
    // previous ones, never a torn mix.
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    const auto list = [](const int (&a)[8]) { return listOf(a).join(QStringLiteral(", ")); };
    QString text = QStringLiteral("[General]\n");
    text += QStringLiteral("list_allnum=") + list(gAllNum) + '\n';
    text += QStringLiteral("list_failnum=") + list(gFailNum) + '\n';
    text += QStringLiteral("gSyncNGNum=") + QString::number(load(gSyncNGNum)) + '\n';
    text += QStringLiteral("list_allcyclenum=") + list(gAllCycleNum) + '\n';
    text += QStringLiteral("list_failcyclenum=") + list(gFailCycleNum) + '\n';
    text += QStringLiteral("gSyncNGcycleNum=") + QString::number(load(gSyncNGCycleNum)) + '\n';
    QSaveFile f(filePath());
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit())
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
