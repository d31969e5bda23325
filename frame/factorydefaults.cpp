#include "frame/factorydefaults.h"

#include "frame/globals.h"
#include "frame/wizardpara.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <functional>

namespace {

// Runs `fill` on a new SQLite file beside `fileName`, then renames it over
// the target.
bool buildDb(const QString& fileName, const std::function<bool(QSqlQuery&)>& fill)
{
    const QString tmp = fileName + QStringLiteral(".new");
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile::remove(tmp);
    const QString connection = QStringLiteral("factory-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(tmp);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("create table sysparam(name text, value text)")) && fill(q);
            if (!ok)
                qWarning() << "factory defaults:" << fileName << q.lastError().text();
            q.finish();
            q = QSqlQuery();
            db.close();
        } else {
            qWarning() << "factory defaults: cannot create" << tmp << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!ok) {
        QFile::remove(tmp);
        return false;
    }
    QFile::remove(fileName);
    return QFile::rename(tmp, fileName);
}

} // namespace

void FactoryDefaults::apply(WizardPara& para)
{
    // Camera and cycle values a station starts with are the ones the load
    // falls back to for a value out of range.
    for (int c = 0; c < 8; ++c) {
        para.exposeTime[c] = 30;
        para.adjustPlus[c] = 32;
        para.contrast[c] = 50;
        para.gamma[c] = 70;
    }
    para.camSpeed = 12;
    para.iTime = 60;
    para.validate();
    // The values the newer rows are created with when a database lacks them.
    para.outInitState[2] = 1; // system7 position 7
    para.NgShowSwitch = 1;
}

bool FactoryDefaults::writeParamDb(const QString& fileName, const WizardPara& para, int language)
{
    const int savedLan = gLan;
    gLan = language; // the language is stored from the global
    const bool ok = buildDb(fileName, [&para](QSqlQuery& q) {
        if (!para.writeRows(q))
            return false;
        // The ROI stores of the eight camera positions come with the file,
        // empty: a camera's view fills its own table on first use.
        for (int c = 0; c < 8; ++c) {
            if (!q.exec(QStringLiteral("create table cammer%1(name text, value text)").arg(c)))
                return false;
        }
        return true;
    });
    gLan = savedLan;
    return ok;
}

bool FactoryDefaults::writeSnDb(const QString& fileName)
{
    return buildDb(fileName, [](QSqlQuery& q) {
        for (int k = 0; k < 8; ++k) {
            q.prepare(QStringLiteral("insert into sysparam values(?, '0')"));
            q.addBindValue(QStringLiteral("serialNB%1").arg(k));
            if (!q.exec())
                return false;
        }
        return true;
    });
}
