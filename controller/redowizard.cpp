#include "controller/redowizard.h"
#include "frame/globals.h"

#include <QApplication>
#include <QEvent>
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

    grayTable = new QVector<unsigned int>(256);
    for (int i = 0; i < 256; ++i)
        (*grayTable)[i] = 0xFF000000u | (unsigned(i) << 16) | (unsigned(i) << 8) | unsigned(i);

    // [databases]
    paraDb = QSqlDatabase::contains("dbIn") ? QSqlDatabase::database("dbIn", false)
                                            : QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    paraDb.setDatabaseName("PARAM.db");
    m_paraDbOpen = paraDb.open();
    if (!m_paraDbOpen)
        LOG(ERROR) << "PARAM.db: " << paraDb.lastError().text().toStdString();
    paraQuery = QSqlQuery(paraDb);

    // [shared dialogs, first part]

    // [parameters]

    // [shared dialogs]

    installEventFilter(this);
}

ReDoWizard::~ReDoWizard()
{
    if (gpWin == this)
        gpWin = nullptr;
    paraQuery = QSqlQuery();
    delete grayTable;
}

int ReDoWizard::CheckPassword()
{
    // [login]
    return loginLevel;
}

bool ReDoWizard::CheckRoot()
{
    // [login root]
    return loginLevel == 2;
}

void ReDoWizard::FLushAll()
{
    paraQuery.finish();
    paraDb.close();
    recordDb.close();
    spareDb.close();
    QThread::msleep(500);
}

bool ReDoWizard::eventFilter(QObject* watched, QEvent* e)
{
    // [event filter]
    return QWidget::eventFilter(watched, e);
}
