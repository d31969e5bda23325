#include "inspection/cameramanager.h"
#include "frame/databasefile.h"
#include "frame/dbconfighelpers.h"

#include "controller/mainstate.h"
#include "controller/stationexit.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "inspection/camerainterface.h"
#include "platform/commandrunner.h"
#include "frame/operatorprompt.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QPluginLoader>
#include <QSqlError>

namespace {

const char* const kSnConnection = "dbT";

} // namespace

CameraManager* CameraManager::_instance = nullptr;

CameraManager* CameraManager::getInstance()
{
    if (!_instance)
        _instance = new CameraManager();
    return _instance;
}

CameraManager::CameraManager() = default;

CameraManager::~CameraManager()
{
    snQuery = QSqlQuery();
    if (snDb.isValid()) {
        snDb.close();
        snDb = QSqlDatabase();
        QSqlDatabase::removeDatabase(kSnConnection);
    }
    if (_instance == this)
        _instance = nullptr;
}

QString CameraManager::pluginDir() const
{
    if (!m_pluginDir.isEmpty())
        return m_pluginDir;
    const QString env = qEnvironmentVariable("STATION_CAMERA_PLUGIN_DIR");
    if (!env.isEmpty())
        return env;
    return QCoreApplication::applicationDirPath() + "/Plugins/Cameras";
}

void CameraManager::loadPlugins()
{
    qInfo() << "Start loading plugins.";
    const QDir dir(pluginDir());
    if (!dir.exists())
        return;
    qDebug() << "Loading camera plugins.";
    // Name order, so the cameras of several plug-ins keep one order from start
    // to start whatever the file system lists first.
    const QStringList files = dir.entryList({"*.so"}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    for (const QString& file : files) {
        auto* loader = new QPluginLoader(dir.absoluteFilePath(file));
        loaders.append(loader);
        QObject* root = loader->instance();
        if (!loader->isLoaded())
            qWarning().noquote() << "Cameras plugins load fail:" << file << loader->errorString();
        CameraInterface* plugin = root ? qobject_cast<CameraInterface*>(root) : nullptr;
        if (plugin) {
            qInfo().noquote() << "Cameras plugins " + file + " load sucess.";
            plugins.append(plugin);
        }
    }
}

bool CameraManager::snDbUsable()
{
    // SQLite opens any file lazily; a damaged file shows itself on the first
    // read. A file without its table would silently drop every later save:
    // give it the table the default copy has. A table without the two
    // columns is as damaged as the file.
    QSqlQuery q(snDb);
    if (!q.exec("select count(*) from sqlite_master") || !q.next())
        return false;
    if (!q.exec("create table if not exists sysparam(name text, value text)"))
        return false;
    return q.exec("select name, value from sysparam limit 1");
}

bool CameraManager::openSnDb(bool checkUsable)
{
    snQuery = QSqlQuery();
    if (QSqlDatabase::contains(kSnConnection)) {
        snDb = QSqlDatabase::database(kSnConnection, false);
        snDb.close();
    } else {
        snDb = QSqlDatabase::addDatabase("QSQLITE", kSnConnection);
    }
    snDb.setDatabaseName("SN.db");
    snDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
    return snDb.open() && (!checkUsable || snDbUsable());
}

void CameraManager::restoreDefaultSnDb(const QString& why)
{
    // The operator's camera order is only given up for a file that is really
    // damaged, and even then it is kept beside the factory copy.
    qCritical().noquote() << "SN.db is damaged:" << why << "- replaced by the factory copy";
    tellOperator(160);
    snQuery = QSqlQuery();
    snDb.close();
    DatabaseFile::restoreFactoryCopy(QStringLiteral("SN.db"), QStringLiteral("sysparam"));
}

void CameraManager::loadCameraSN()
{
    snList.clear();
    QString why;
    const DatabaseFile::State state = DatabaseFile::checkWaiting(QStringLiteral("SN.db"), QStringLiteral("sysparam"), &why);
    if (state == DatabaseFile::Busy) {
        // Another program holds the file: the stored order cannot be read
        // now, but it is not lost either. The cameras keep the plug-ins'
        // order for this run.
        qCritical().noquote() << "SN.db stays locked by another program:" << why << "- camera order not loaded";
        tellOperator(764, messageText(764).arg(QStringLiteral("SN.db")));
        openSnDb(false);
        return;
    }
    // A missing file or one without the table holds no order yet: it gets
    // the table below. Only a damaged file is replaced.
    if (state == DatabaseFile::Damaged) {
        restoreDefaultSnDb(why);
        // On a panel the reboot above ends the process; where it does not
        // (simulated platform) go on with the factory copy.
    }
    if (!openSnDb()) {
        qCritical().noquote() << "SN.db unusable:" << snDb.lastError().text();
        snDb.close();
        return;
    }
    snQuery = QSqlQuery(snDb);
    for (int k = 0; k < kMaxCameras; ++k) {
        const QString key = QString("serialNB%1").arg(k);
        snQuery.prepare("select value from sysparam where name=?");
        snQuery.addBindValue(key);
        if (snQuery.exec() && snQuery.next()) {
            const QString sn = snQuery.value(0).toString();
            if (sn.size() >= kMinSerialLength && sn.size() <= kMaxSerialLength)
                snList.append(sn);
            else if (!sn.isEmpty() && sn != "0") // "0" marks a free position
                qWarning().noquote() << QString("SN.db: %1 ignored, a serial number has %2 to %3 characters, not %4")
                                            .arg(key).arg(kMinSerialLength).arg(kMaxSerialLength).arg(sn.size());
        } else {
            snQuery.prepare("insert into sysparam values(?, '0')");
            snQuery.addBindValue(key);
            if (!snQuery.exec())
                qWarning() << "SN.db: cannot insert" << key << snQuery.lastError().text();
        }
    }
    snQuery.finish();
}

void CameraManager::findCameras()
{
    cameras.clear();
    QVector<_cameraInfo> simulated;
    for (CameraInterface* p : plugins) {
        const QVector<_cameraInfo> found = p->enumerate();
        qInfo().noquote() << p->name() << "find camera count:" << found.size();
        if (p->kind() != 0)
            cameras += found;
        else
            simulated += found;
    }
    noCamera = false;
    if (cameras.isEmpty()) {
        cameras += simulated;
        noCamera = true;
    }
}

void CameraManager::findSumulateCameras()
{
    noCamera = true;
    cameras.clear();
    for (CameraInterface* p : plugins)
        if (p->kind() == 0)
            cameras += p->enumerate();
}

void CameraManager::sortCamera()
{
    qInfo() << "sortCamera";
    QVector<_cameraInfo> remaining = cameras;
    QVector<_cameraInfo> result;
    for (const QString& s : snList) {
        qInfo().noquote() << s;
        for (int i = remaining.size() - 1; i >= 0; --i) {
            if (remaining[i].serial() == s) {
                result.append(remaining[i]);
                remaining.remove(i);
            }
        }
    }
    result += remaining;
    cameras = result;
}

void CameraManager::resetCameraSN()
{
    snList.clear();
    for (const _cameraInfo& c : cameras)
        snList.append(c.serial());
}

void CameraManager::saveCameraSN()
{
    qInfo() << "saveCameraSN";
    if (!snDb.isOpen()) {
        qWarning() << "saveCameraSN: SN.db is not open";
        return;
    }
    // All eight rows in one transaction: a power cut never leaves half an order.
    QSqlQuery q(snDb);
    const bool tx = snDb.transaction();
    bool ok = true;
    for (int i = 0; i < kMaxCameras && ok; ++i) {
        QString value = i < snList.size() ? snList[i] : QString("0");
        if (value.isEmpty())
            value = "0";
        if (i < snList.size())
            qInfo().noquote() << snList[i];
        const QString key = QString("serialNB%1").arg(i);
        ok = writeNameValueRow(q, QStringLiteral("sysparam"), key, value);
        if (!ok)
            qWarning() << "saveCameraSN:" << key << q.lastError().text();
    }
    q.finish();
    if (tx) {
        if (ok && !snDb.commit())
            ok = false;
        if (!ok) {
            qWarning() << "saveCameraSN: camera order not stored:" << snDb.lastError().text();
            snDb.rollback();
            return;
        }
    }
    if (!ok)
        return;
    // One "info" operation record per stored camera.
    for (int i = 0; i < snList.size() && i < kMaxCameras; ++i) {
        const QString text = QString("Save SN %1: %2").arg(i + 1).arg(snList[i]);
        if (gpWin)
            gpWin->InsertRecord(text, QStringLiteral("info"));
        else
            qInfo().noquote() << text;
    }
}

void CameraManager::resortCameraSN(QVector<int> order)
{
    const int n = qMin(cameras.size(), order.size());
    snList = QVector<QString>(n);
    for (int i = 0; i < n; ++i) {
        const int to = order[i];
        if (to >= 0 && to < n)
            snList[to] = cameras[i].serial();
    }
    saveCameraSN();
}

void CameraManager::checkCameraCount()
{
    if (noCamera) {
        if (askOperator(134)) {
            resetCameraSN();
            saveCameraSN();
        }
        return;
    }
    if (!snList.isEmpty() && snList.size() != cameras.size()) {
        if (askOperator(360)) {
            resetCameraSN();
            saveCameraSN();
            if (gpWin)
                gpWin->FLushAll();
            CommandRunner::system("reboot");
            StationExit::wentDown(StationExit::Reboot);
        }
    }
}

CameraInterface* CameraManager::createCamera(_cameraInfo info)
{
    // The last factory of the type decides; cameras made by the others are
    // not used, so they are not kept either.
    CameraInterface* cam = nullptr;
    for (CameraInterface* p : plugins) {
        if (p->name() != info.typeName)
            continue;
        CameraInterface* made = p->create(info);
        if (cam && cam != made)
            delete cam;
        cam = made;
    }
    return cam;
}
