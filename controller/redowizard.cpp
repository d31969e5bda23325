#include "controller/redowizard.h"
#include "controller/controlport.h"
#include "frame/globals.h"
#include "frame/parameterstartup.h"
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

    // The parameters (PARAM.db checked, opened and loaded into gpWPara).
    m_paraDbOpen = ParameterStartup::run(this);

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
