// A journal entry on a day's RECORD.db of 100,000 rows, against one plain
// bound SQLite insert into a copy of the same file, in the same run.
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/globals.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

namespace {

const int kRows = 100000;

// A working directory with RECORD.db of kRows rows and a copy of it.
struct Journal {
    QTemporaryDir dir;
    MainState state;
    Journal()
    {
        QDir::setCurrent(dir.path());
        OperationRecords::writeTemplate("RECORDNULL.db");
        QFile::copy("RECORDNULL.db", "RECORD.db");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
            db.setDatabaseName("RECORD.db");
            db.open();
            QSqlQuery q(db);
            q.exec("ALTER TABLE RECORD ADD COLUMN recordtype TEXT");
            db.transaction();
            q.prepare("INSERT INTO RECORD VALUES (?, ?, ?, ?)");
            for (int i = 0; i < kRows; ++i) {
                q.addBindValue(QStringLiteral("08.00.00"));
                q.addBindValue(QStringLiteral("Advanced"));
                q.addBindValue(QString("Camera %1 Alarm").arg(i % 8 + 1));
                q.addBindValue(QStringLiteral("run"));
                q.exec();
            }
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase("fill");
        QFile::copy("RECORD.db", "PLAIN.db");
        gpWin = &state;
        OperationRecords::instance()->openAtStart();
    }
};

Journal& journal()
{
    static Journal j;
    return j;
}

void BM_InsertRecord(benchmark::State& s)
{
    journal();
    OperationRecords* r = OperationRecords::instance();
    for (auto _ : s)
        benchmark::DoNotOptimize(r->InsertRecord("Camera 3 Alarm", "run"));
}
BENCHMARK(BM_InsertRecord)->Unit(benchmark::kMicrosecond);

void BM_PlainBoundInsert(benchmark::State& s)
{
    journal();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "plain");
        db.setDatabaseName("PLAIN.db");
        db.open();
        QSqlQuery q(db);
        q.prepare("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)");
        for (auto _ : s) {
            q.bindValue(0, QStringLiteral("08.00.00"));
            q.bindValue(1, QStringLiteral("Advanced"));
            q.bindValue(2, QStringLiteral("Camera 3 Alarm"));
            q.bindValue(3, QStringLiteral("run"));
            benchmark::DoNotOptimize(q.exec());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("plain");
}
BENCHMARK(BM_PlainBoundInsert)->Unit(benchmark::kMicrosecond);

} // namespace
