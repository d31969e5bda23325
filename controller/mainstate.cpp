#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"

#include <glog/logging.h>

MainState::MainState()
{
    grayTable = new QVector<unsigned int>(256);
    for (int i = 0; i < 256; ++i)
        (*grayTable)[i] = 0xFF000000u | (unsigned(i) << 16) | (unsigned(i) << 8) | unsigned(i);
}

MainState::~MainState()
{
    if (gpWin == this)
        gpWin = nullptr;
    paraQuery = QSqlQuery();
    delete grayTable;
}

void MainState::FLushAll()
{
    paraQuery.finish();
    paraDb.close();
    recordDb.close();
    spareDb.close();
    // Gives the file system time to settle before the power goes.
    Clock::instance()->sleepMs(500);
}

bool MainState::InsertRecord(const QString& text, const QString& type)
{
    LOG(INFO) << "record (" << type.toStdString() << "): " << text.toStdString();
    return false;
}

void MainState::Run()
{
    ++unhandledRuns;
    LOG(ERROR) << "input change: the main window has no Run(), nobody reads the board's inputs";
}
