#include "controller/redowizard.h"
#include "controller/controlport.h"
#include "frame/databasefile.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "inspection/cameramanager.h"
#include "frame/wizardpara.h"
#include "platform/commandrunner.h"
#include "widgets/choosebox.h"
#include "widgets/lostcamerawarnbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/passwordbox.h"
#include "widgets/productalarmwarnbox.h"
#include "widgets/warnbox.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QScreen>
#include <QSqlError>
#include <QThread>

#include <glog/logging.h>

ReDoWizard::ReDoWizard(QWidget* parent)
    : QWidget(parent)
{
    currentEdit = nullptr;
    gpWin = this;
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        gShowW = s->geometry().width();
        gShowH = s->geometry().height();
    }

    // Made before the parameter files are looked at: a damaged file is told
    // through it, and it has no parent yet, so it shows on its own.
    delete gpWarnBox;
    gpWarnBox = new WarnBox(nullptr);

    // Checked before the connection is made: opening would create an empty file.
    QString why;
    switch (DatabaseFile::checkWaiting(QStringLiteral("PARAM.db"), QStringLiteral("sysparam"), &why)) {
    case DatabaseFile::Usable:
        break;
    case DatabaseFile::Busy:
        // Replacing a file another program holds would throw away a good
        // parameter set: go on with it; a save reports its own failure.
        LOG(ERROR) << "PARAM.db stays locked by another program: " << why.toStdString();
        tellOperator(761, messageText(761).arg(QStringLiteral("PARAM.db")));
        break;
    case DatabaseFile::Missing:
    case DatabaseFile::Empty: // a set of defaults nobody chose is no parameter set
    case DatabaseFile::Damaged:
        restoreParamDb(why);
        break;
    }
    paraDb = QSqlDatabase::contains("dbIn") ? QSqlDatabase::database("dbIn", false)
                                            : QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    paraDb.setDatabaseName("PARAM.db");
    // A statement waits this long for another connection's lock, then fails
    // and says so (a save then keeps the edit and reports).
    paraDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
    m_paraDbOpen = paraDb.open();
    if (!m_paraDbOpen)
        LOG(ERROR) << "PARAM.db: " << paraDb.lastError().text().toStdString();
    paraQuery = QSqlQuery(paraDb);

    // The live set, loaded, and the settings window's edit copy (filled by
    // assignment before the window opens). A previous window's sets (tests
    // build more than one) are released first.
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

    // The cameras, in the stored order. This comes before the shared boxes
    // are re-parented to this (not yet shown) window: a damaged SN.db is told
    // through a box that must be on screen.
    CameraManager* cams = CameraManager::getInstance();
    if (cams->plugins.isEmpty())
        cams->loadPlugins();
    cams->loadCameraSN();
    cams->findCameras();
    cams->sortCamera();

    delete gpChooseBox;
    gpChooseBox = new ChooseBox(nullptr, 750, 370);
    // The pads replace themselves when destroyed (see createShared); a pad
    // left from an earlier window is reused.
    if (!gpNumPad)
        NumberInput::createShared();
    if (!gpNumCharPad)
        NumCharInput::createShared();
    delete gpPasswordBox;
    gpPasswordBox = new PasswordBox(nullptr);
    // The board link needs the loaded parameters (port number, inversions).
    delete gpControlIO;
    gpControlIO = new ControlPort();
    // The shared boxes and pads are drawn over the main window as its children.
    gpWarnBox->setParent(this);
    gpChooseBox->setParent(this);
    gpNumPad->setParent(this);
    gpNumCharPad->setParent(this);
    gpPasswordBox->setParent(this);
    gpChooseBox->setWindowFlags(gpChooseBox->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    gpWarnBox->hide();
    gpChooseBox->hide();
    gpNumPad->hide();
    gpNumCharPad->hide();
    gpPasswordBox->hide();
    delete gpLostCameraWarnBox;
    gpLostCameraWarnBox = new LostCameraWarnBox(nullptr);
    delete gpProductAlarmWarnBox;
    gpProductAlarmWarnBox = new ProductAlarmWarnBox(this);
    gpProductAlarmWarnBox->hide();

    installEventFilter(this);
}

void ReDoWizard::restoreParamDb(const QString& why)
{
    LOG(ERROR) << "PARAM.db unusable (" << why.toStdString() << "), restoring the default parameter group";
    // The language is not loaded yet: the notice is always English.
    QString text = gaLanStr[4 * 160 + 1];
    if (text.isEmpty())
        text = QStringLiteral("System parameter file error, please \r\n restore parameter group \r\n or contact supplier");
    tellOperator(160, text);
    DatabaseFile::keepAside(QStringLiteral("PARAM.db"));
    QString failed;
    if (!DatabaseFile::replaceWith(DatabaseFile::factoryCopy(QStringLiteral("PARAM.db")), QStringLiteral("PARAM.db"),
                                   QStringLiteral("sysparam"), &failed))
        LOG(ERROR) << "PARAM.db: factory copy not restored: " << failed.toStdString();
    CommandRunner::system(QStringLiteral("sync"));
    CommandRunner::system(QStringLiteral("reboot"));
}

ReDoWizard::~ReDoWizard()
{
    delete gpControlIO; // stops its polling thread first
    gpControlIO = nullptr;
}

int ReDoWizard::CheckPassword()
{
    if (gpWPara && gpWPara->isPswUsed == 0)
        return 1;
    if (loginLevel != 0)
        return loginLevel;
    if (gpPasswordBox)
        gpPasswordBox->exec();
    return loginLevel;
}

bool ReDoWizard::CheckRoot()
{
    if (loginLevel == 2)
        return true;
    if (gpPasswordBox)
        gpPasswordBox->exec();
    return loginLevel == 2;
}

bool ReDoWizard::eventFilter(QObject* watched, QEvent* e)
{
    // A press anywhere else ends a pad entry; a press on the pad (or one of
    // its keys) is its own.
    if (e->type() == QEvent::MouseButtonPress) {
        QWidget* w = watched->isWidgetType() ? static_cast<QWidget*>(watched) : nullptr;
        const auto hideUnlessOwn = [watched, w](QWidget* pad) {
            if (pad && pad->isVisible() && watched != pad && !(w && pad->isAncestorOf(w)))
                pad->hide();
        };
        hideUnlessOwn(gpNumPad);
        hideUnlessOwn(gpNumCharPad);
    }
    return QWidget::eventFilter(watched, e);
}
