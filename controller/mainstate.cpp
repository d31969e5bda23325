#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "controller/controlport.h"
#include "controller/stationexit.h"

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
    StationExit::markClosed();
    // Gives the file system time to settle before the power goes.
    Clock::instance()->sleepMs(500);
}

bool MainState::InsertRecord(const QString& text, const QString& type)
{
    return OperationRecords::instance()->InsertRecord(text, type);
}

// --- camera view ---
void MainState::LostCamera()
{
    LOG(INFO) << "lsotCamera";
    if (runState != 3 && gpControlIO) {
        gpControlIO->IOSetOut(0, 1);
        gpControlIO->IOFlashOut();
    }
    refresh();
}

void MainState::startHintTimer(int ms)
{
    const int generation = ++hintGeneration;
    QObject* ctx = windowObject();
    MainState* self = this;
    Clock::instance()->singleShot(ms, ctx, [self, generation] {
        // A plain state (no window) may be gone by then: act only on the
        // state in force, and only for the latest start.
        if (gpWin != self || generation != self->hintGeneration)
            return;
        gDrawHint = 0;
        self->refresh();
    });
}

void MainState::Run()
{
    ++unhandledRuns;
    LOG(ERROR) << "input change: the main window has no Run(), nobody reads the board's inputs";
}
