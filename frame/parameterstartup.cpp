#include "frame/parameterstartup.h"
#include "controller/mainstate.h"
#include "frame/databasefile.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"

#include <QSqlError>

#include <glog/logging.h>

bool ParameterStartup::run(MainState* state)
{
    // Checked before the connection is made: opening would create an empty file.
    QString why;
    switch (DatabaseFile::checkWaiting(QStringLiteral("PARAM.db"), QStringLiteral("sysparam"), &why)) {
    case DatabaseFile::Usable:
        break;
    case DatabaseFile::Busy:
        // Replacing a file another program holds would throw away a good
        // parameter set: go on with it; a save reports its own failure.
        LOG(ERROR) << "PARAM.db stays locked by another program: " << why.toStdString();
        tellOperator(764, messageText(764).arg(QStringLiteral("PARAM.db")));
        break;
    case DatabaseFile::Missing:
    case DatabaseFile::Empty: // a set of defaults nobody chose is no parameter set
    case DatabaseFile::Damaged:
        restoreParamDb(why);
        break;
    }
    const bool open = openParamDb(state);

    // The live set, loaded, and the settings window's edit copy (filled by
    // assignment before the window opens). Earlier sets (tests build more
    // than one window) are released first.
    delete gpWPara;
    delete gpWParaBak;
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWPara->loadCpuInfo();
    gpWPara->loadConfigFromJson();
    gpWParaBak = new WizardPara;
    gTempNum = gpWPara->tempNum;
    gPicNumNG = gpWPara->ngRecNum;
    gPicNumOK = gpWPara->okRecNum;
    gisCOM = gpWPara->comPort;
    gisGrayHue = gpWPara->grayChannel;
    gpWPara->getCurGroupName();
    return open;
}

void ParameterStartup::restoreParamDb(const QString& why)
{
    LOG(ERROR) << "PARAM.db unusable (" << why.toStdString() << "), restoring the default parameter group";
    // The language is not loaded yet: the notice is always English.
    QString text = gaLanStr[4 * 160 + 1];
    if (text.isEmpty())
        text = QStringLiteral("System parameter file error, please \r\n restore parameter group \r\n or contact supplier");
    tellOperator(160, text);
    DatabaseFile::restoreFactoryCopy(QStringLiteral("PARAM.db"), QStringLiteral("sysparam"));
}

bool ParameterStartup::openParamDb(MainState* state)
{
    state->paraQuery = QSqlQuery();
    state->paraDb = QSqlDatabase::contains("dbIn") ? QSqlDatabase::database("dbIn", false)
                                                   : QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    state->paraDb.close();
    state->paraDb.setDatabaseName("PARAM.db");
    // A statement waits this long for another connection's lock, then fails
    // and says so (a save then keeps the edit and reports).
    state->paraDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
    const bool open = state->paraDb.open();
    if (!open)
        LOG(ERROR) << "PARAM.db: " << state->paraDb.lastError().text().toStdString();
    state->paraQuery = QSqlQuery(state->paraDb);
    return open;
}
