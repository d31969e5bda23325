#include "controller/mainstate.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/wizardpara.h"
#include "inspection/cammersingleton.h"
#include "testsupport/recordingprompt.h"
#include "testsupport/testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

using Rows = QMap<QString, QString>;

// The station's parameter connection on a file of the working directory.
void openParamDb(const QString& file = "PARAM.db")
{
    QSqlDatabase db = QSqlDatabase::contains("dbIn") ? QSqlDatabase::database("dbIn", false)
                                                     : QSqlDatabase::addDatabase("QSQLITE", "dbIn");
    db.close();
    db.setDatabaseName(file);
    db.open();
    if (gpWin) { // the window's connection, as the station has it
        gpWin->paraDb = db;
        gpWin->paraQuery = QSqlQuery(db);
    }
}

void closeParamDb()
{
    if (gpWin) {
        gpWin->paraQuery = QSqlQuery();
        gpWin->paraDb = QSqlDatabase();
    }
    QSqlDatabase::database("dbIn", false).close();
    QSqlDatabase::removeDatabase("dbIn");
}

void exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database("dbIn", false));
    if (!q.exec(sql))
        qWarning() << "test sql failed:" << sql << q.lastError().text();
}

void putRow(const QString& table, const QString& name, const QString& value)
{
    QSqlQuery q(QSqlDatabase::database("dbIn", false));
    q.prepare(QString("insert into %1 values(?, ?)").arg(table));
    q.addBindValue(name);
    q.addBindValue(value);
    q.exec();
}

Rows readRows(const QString& table)
{
    Rows rows;
    QSqlQuery q(QSqlDatabase::database("dbIn", false));
    if (q.exec(QString("select name, value from %1").arg(table)))
        while (q.next())
            rows.insert(q.value(0).toString(), q.value(1).toString());
    return rows;
}

int rowCount(const QString& table)
{
    QSqlQuery q(QSqlDatabase::database("dbIn", false));
    return (q.exec(QString("select count(*) from %1").arg(table)) && q.next()) ? q.value(0).toInt() : -1;
}

std::unique_ptr<CammerSingleton> newStore(int camera)
{
    return std::make_unique<CammerSingleton>(camera, nullptr);
}

void setRect(CammerSingleton& s, int d, int r, int x1, int y1, int x2, int y2)
{
    const int i = d * 100 + r;
    s.shapeKind[i] = 1;
    s.rects[i].rect = QRect(QPoint(x1, y1), QPoint(x2, y2));
}

void setRing(CammerSingleton& s, int d, int r, int cx, int cy, int inner, int outer)
{
    const int i = d * 100 + r;
    s.shapeKind[i] = 4;
    s.circles[i].cx = cx;
    s.circles[i].cy = cy;
    s.circles[i].innerRadius = inner;
    s.circles[i].radius = outer;
    s.circles[i].UpdateRect();
}

void setPolygon(CammerSingleton& s, int d, int r, const QVector<QPoint>& pts, bool hand)
{
    const int i = d * 100 + r;
    s.shapeKind[i] = 2;
    QVector<QPoint> copy = pts;
    s.polygons[i] = RePolygon(copy.size(), copy.data());
    s.polygons[i].SetHand(hand);
}

void setParams(CammerSingleton& s, int d, int r, int c, int a, int b, int t)
{
    const int i = d * 100 + r;
    s.paramC[i] = c;
    s.paramA[i] = a;
    s.paramB[i] = b;
    s.funcType[i] = t;
}

// Two large, different stores for the crash test: every detection in use,
// polygons of a few hundred points, different counts so a save both rewrites
// and deletes rows.
void makeVariant(CammerSingleton& s, int v)
{
    for (int d = 0; d < 8; ++d) {
        s.roiCount[d] = v == 0 ? 100 : 55 + 5 * d;
        for (int k = 0; k < 8; ++k)
            s.detectData[d][k] = v * 1000 + d * 10 + k;
        for (int r = 0; r < s.roiCount[d]; ++r) {
            setParams(s, d, r, v + r, 10 * v + d, 100 - r, (r + v) % 11);
            s.outN[r] = (r + v) % 4;
            switch ((r + v) % 4) {
            case 0:
                setRect(s, d, r, 10 + r, 10 + d, 200 + r, 150 + v);
                break;
            case 1:
                setRing(s, d, r, 400 + r, 300 + d, 10 + v, 90);
                break;
            default: {
                QVector<QPoint> pts;
                for (int j = 0; j < 300; ++j)
                    pts << QPoint(100 + (j * 7 + v) % 900, 100 + (j * 13 + d) % 600);
                setPolygon(s, d, r, pts, (r % 2) == 1);
            }
            }
        }
    }
}

// This test process's own resident size now (not a panel path: the figure is
// about the process itself, simulated platform or not).
long rssKb()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

} // namespace

class TstStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storesCostWhatTheyHold();
    void rowTextsAreExact();
    void everyFieldRoundTrips();
    void emptyTableGetsItsDetectionRows();
    void tooManyRoisIsReportedAndLosesNothingElse();
    void damagedRowsGetDefinedResults();
    void tableWithoutValueColumnChangesNothing();
    void copyTargetsFollowTheMachineMode();
    void copyParamAsksFirst();
    void crashDuringSaveLeavesOldOrNewStore();

private:
    std::unique_ptr<TestEnv> m_env;
};

void TstStore::initTestCase()
{
    QVERIFY(MessageTable::load() > 0);
}

void TstStore::init()
{
    m_env = std::make_unique<TestEnv>(false);
    openParamDb();
}

void TstStore::cleanup()
{
    closeParamDb();
    m_env.reset();
}

void TstStore::storesCostWhatTheyHold()
{
    const long base = rssKb();
    QVERIFY(base > 0);
    std::vector<std::unique_ptr<CammerSingleton>> stores;
    for (int i = 0; i < 4; ++i)
        stores.push_back(newStore(i));
    const long built = rssKb();
    // Four blocks of 99 MiB, of which only the non-zero pages stay backed.
    QVERIFY2(built - base < 4 * 16 * 1024, qPrintable(QString("+%1 KiB").arg(built - base)));
    // New stores of one camera compare equal byte for byte.
    stores[3]->cameraNo = 2;
    QCOMPARE(std::memcmp(stores[2].get(), stores[3].get(), sizeof(CammerSingleton)), 0);
    CammerSingleton& live = *stores[0];
    CammerSingleton& edit = *stores[1];
    live.roiCount[0] = 3;
    live.setDefaultRoi(0, 0);
    setRing(live, 0, 1, 400, 300, 20, 100);
    setPolygon(live, 0, 2, {{10, 20}, {300, 40}, {150, 400}}, true);
    live.detectData[7][7] = 5;
    edit.assignFrom(live);
    QCOMPARE(edit.cameraNo, 0);
    QCOMPARE(std::memcmp(&edit, &live, sizeof(CammerSingleton)), 0);
    const long copied = rssKb();
    QVERIFY2(copied - built < 16 * 1024, qPrintable(QString("+%1 KiB").arg(copied - built)));
    // Back to a new store: the ROIs' bytes become what a new store holds.
    edit.assignFrom(*stores[2]);
    QCOMPARE(std::memcmp(&edit, stores[3].get(), sizeof(CammerSingleton)), 0);
}

void TstStore::rowTextsAreExact()
{
    auto s = newStore(0);
    s->roiCount[0] = 5;
    s->setDefaultRoi(0, 0);
    setParams(*s, 0, 1, 7, 8, 9, 3);
    setRing(*s, 0, 1, 400, 300, 20, 100);
    s->outN[1] = 2;
    setParams(*s, 0, 2, 1, 2, 3, 10);
    setPolygon(*s, 0, 2, {{10, 20}, {30, 40}, {50, 60}}, false);
    setPolygon(*s, 0, 3, {{10, 20}, {30, 40}, {50, 60}, {70, 80}}, true);
    s->shapeKind[4] = 7; // an unknown kind carries no shape text
    s->paramA[4] = -5;
    for (int k = 0; k < 8; ++k)
        s->detectData[0][k] = k + 1;
    const Rows expect{{"ROI0-0", "3 25 100 0 1 0 0 50 50 100 100"},
                      {"ROI0-1", "7 8 9 3 4 2 0 400 300 1310820"},
                      {"ROI0-2", "1 2 3 10 2 0 3 10 20 30 40 50 60 "},
                      {"ROI0-3", "0 0 0 0 258 0 4 10 20 30 40 50 60 70 80 "},
                      {"ROI0-4", "0 -5 0 0 7 0 "},
                      {"detect0", "5 1 2 3 4 5 6 7 8"},
                      {"detect7", "0 0 0 0 0 0 0 0 0"}};
    s->polygons[5] = RePolygon();
    s->shapeKind[5] = 2;
    QCOMPARE(s->roiRowText(0, 5), QString("0 0 0 0 2 0 0 "));

    // What the table receives is exactly these texts.
    QVERIFY(s->SaveDatatoFile());
    const Rows rows = readRows("cammer0");
    for (auto it = expect.begin(); it != expect.end(); ++it)
        QCOMPARE(rows.value(it.key()), it.value());
    QCOMPARE(rows.size(), 8 + 5);
}

void TstStore::everyFieldRoundTrips()
{
    auto s = newStore(1);
    s->roiCount[0] = 4;
    s->roiCount[3] = 2;
    s->roiCount[7] = 100;
    for (int k = 0; k < 8; ++k)
        s->detectData[3][k] = -k * 1000 - 1;
    setParams(*s, 0, 0, -1, 2147483647, -2147483647, 10);
    setRect(*s, 0, 0, 3, 3, 1277, 797); // exactly the clamping margins
    setParams(*s, 0, 1, 4, 5, 6, 9);
    setRing(*s, 0, 1, 400, 300, 20, 100);
    QVector<QPoint> big;
    for (int j = 0; j < RePolygon::kMaxPoints; ++j)
        big << QPoint(3 + j % 1275, 3 + (j * 7) % 795);
    setParams(*s, 0, 2, 1, 1, 1, 2);
    setPolygon(*s, 0, 2, big, false);
    setParams(*s, 0, 3, 9, 9, 9, 9);
    setPolygon(*s, 0, 3, {{100, 100}, {300, 120}, {250, 400}, {90, 350}}, true);
    s->outN[0] = 3;
    s->outN[1] = 1;
    s->outN[2] = 2;
    setParams(*s, 3, 0, 11, 12, 13, 5);
    s->shapeKind[300] = 0; // a ROI without shape
    setRect(*s, 3, 1, 600, 400, 700, 500);
    for (int r = 0; r < 100; ++r) {
        setParams(*s, 7, r, r, r * 2, r * 3, r % 11);
        setRect(*s, 7, r, 10 + r, 20 + r, 30 + r * 2, 40 + r * 3);
    }
    QVERIFY(s->SaveDatatoFile());
    const Rows saved = readRows("cammer1");

    auto l = newStore(1);
    static cv::Mat masks[8][100];
    l->loadFromTable(0.5f, 0.625f, masks);
    // Every field is in the row texts: the loaded store writes the same table.
    for (int d = 0; d < 8; ++d)
        for (int r = 0; r < 100; ++r) {
            const int i = d * 100 + r;
            const bool shaped = r < s->roiCount[d] && (s->shapeKind[i] == 1 || s->shapeKind[i] == 2 || s->shapeKind[i] == 4);
            QVERIFY2(masks[d][r].empty() != shaped, qPrintable(QString("mask %1-%2").arg(d).arg(r)));
        }
    QCOMPARE(l->rects[0].scaleX, 0.5f);
    // (Image coordinates and mask sizes from the view's scale factors: the
    // camera view's store test, at two screen layouts.)
    QVERIFY(l->SaveDatatoFile());
    QCOMPARE(readRows("cammer1"), saved);

    // Corners outside the margins come back clamped.
    setRect(*s, 0, 0, -40, 0, 5000, 799);
    QVERIFY(s->SaveDatatoFile());
    auto c = newStore(1);
    c->loadFromTable(1, 1, nullptr);
    QCOMPARE(c->rects[0].rect, QRect(QPoint(3, 3), QPoint(1277, 797)));
}

void TstStore::emptyTableGetsItsDetectionRows()
{
    exec("create table cammer3(name text, value text)");
    auto s = newStore(3);
    s->loadFromTable(1, 1, nullptr);
    const Rows rows = readRows("cammer3");
    QCOMPARE(rows.size(), 8);
    for (int d = 0; d < 8; ++d) {
        QCOMPARE(rows.value(QString("detect%1").arg(d)), QString("0"));
        QCOMPARE(s->roiCount[d], 0);
    }
    // No table at all: made with the two text columns.
    auto t = newStore(6);
    t->loadFromTable(1, 1, nullptr);
    QCOMPARE(rowCount("cammer6"), 8);
}

void TstStore::tooManyRoisIsReportedAndLosesNothingElse()
{
    exec("create table cammer0(name text, value text)");
    putRow("cammer0", "detect0", "2 1 2 3 4 5 6 7 8");
    putRow("cammer0", "ROI0-0", "3 25 100 0 1 1 0 60 70 160 170");
    putRow("cammer0", "ROI0-1", "3 26 100 1 4 2 0 400 300 1310820");
    putRow("cammer0", "detect1", "101");
    for (int r = 0; r < 101; ++r)
        putRow("cammer0", QString("ROI1-%1").arg(r), "3 25 100 0 1 0 0 50 50 100 100");
    putRow("cammer0", "detect2", "-1");
    auto s = newStore(0);
    {
        RecordingPrompt operatorAnswers;
        s->loadFromTable(1, 1, nullptr);
        QCOMPARE(operatorAnswers.numbers(), QList<int>({0, 0}));
    }
    QCOMPARE(QVector<int>({s->roiCount[0], s->roiCount[1], s->roiCount[2]}), QVector<int>({2, 0, 0}));
    QCOMPARE(s->detectData[0][7], 8);
    // The next save empties detection 1 and keeps detection 0 as it was.
    QVERIFY(s->SaveDatatoFile());
    const Rows rows = readRows("cammer0");
    QCOMPARE(rows.value("detect1"), QString("0 0 0 0 0 0 0 0 0"));
    QCOMPARE(rows.value("ROI0-0"), QString("3 25 100 0 1 1 0 60 70 160 170"));
    QCOMPARE(rows.value("ROI0-1"), QString("3 26 100 1 4 2 0 400 300 1310820"));
    QCOMPARE(rows.size(), 8 + 2 + 1); // ROI1-100 lies outside every detection's range
    QVERIFY(rows.contains("ROI1-100"));
    QVERIFY(!rows.contains("ROI1-0"));
}

void TstStore::damagedRowsGetDefinedResults()
{
    exec("create table cammer2(name text, value text)");
    putRow("cammer2", "detect0", "9 1 x 3");
    putRow("cammer2", "ROI0-0", "1 2 3 4 1 0 0 -5 -5 5000 5000");    // clamped corners
    putRow("cammer2", "ROI0-1", "3 25 x 0 1 0 0 10 10 20 20");       // not a number
    putRow("cammer2", "ROI0-2", "3 25 100 0 1 0");                    // geometry missing
    putRow("cammer2", "ROI0-3", "4 5 6 7 2 1 0 ");                    // polygon without points
    putRow("cammer2", "ROI0-4", "4 5 6 7 2 1 5 10 10 20 20 30 30 ");  // points missing
    putRow("cammer2", "ROI0-5", "4 5 6 7 1 9 0 10 10 20 20");         // output group 9
    putRow("cammer2", "ROI0-6", "1 1 1 1 3 1 ");                      // a kind without shape
    putRow("cammer2", "ROI0-7", "  1   2 3 4  1 0 0 10 10 20 20  ");  // extra blanks
    // ROI0-8 missing altogether
    putRow("cammer2", "detect1", "garbage");
    putRow("cammer2", "ROI1-0", "3 25 100 0 1 0 0 50 50 100 100");
    putRow("cammer2", "detect3", "1");
    putRow("cammer2", "ROI3-0", "7 7 7 7 4 3 0 400 300");              // ring without its radii
    auto s = newStore(2);
    for (const char* warned : {"detect0.*not a number", "ROI0-1.*damaged", "ROI0-2.*damaged", "ROI0-4.*damaged",
                               "detect1.*damaged", "ROI3-0.*damaged"})
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warned));
    {
        RecordingPrompt operatorAnswers;
        s->loadFromTable(1, 1, nullptr);
        QCOMPARE(operatorAnswers.numbers(), QList<int>({0})); // only the damaged detection row
    }
    QCOMPARE(s->roiCount[0], 9);
    QCOMPARE(QVector<int>({s->detectData[0][0], s->detectData[0][1], s->detectData[0][2]}),
             QVector<int>({1, 0, 3}));
    QCOMPARE(s->rects[0].rect, QRect(QPoint(3, 3), QPoint(1277, 797)));
    QCOMPARE(s->paramA[0], 2);
    auto isDefault = [&](int i) {
        return s->paramC[i] == 3 && s->paramA[i] == 25 && s->paramB[i] == 100 && s->funcType[i] == 0 &&
               s->shapeKind[i] == 1 && s->rects[i].rect == QRect(QPoint(50, 50), QPoint(100, 100));
    };
    for (int i : {1, 2, 3, 4, 8, 300}) // 300: the ring row has too few numbers for a ring
        QVERIFY2(isDefault(i), qPrintable(QString::number(i)));
    QCOMPARE(s->shapeKind[6], 3);
    QCOMPARE(s->paramA[6], 1);
    QCOMPARE(s->roiCount[1], 0);
    // Nothing else was lost: saving writes the good rows back unchanged.
    QVERIFY(s->SaveDatatoFile());
    const Rows saved = readRows("cammer2");
    QCOMPARE(saved.value("ROI0-7"), QString("1 2 3 4 1 0 0 10 10 20 20"));
    QCOMPARE(saved.value("ROI0-5"), QString("4 5 6 7 1 0 0 10 10 20 20"));
}

void TstStore::tableWithoutValueColumnChangesNothing()
{
    exec("create table cammer5(name text)");
    exec("insert into cammer5 values('detect0')");
    auto s = newStore(5);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cammer5.*failed"));
    s->loadFromTable(1, 1, nullptr);
    for (int d = 0; d < 8; ++d)
        QCOMPARE(s->roiCount[d], 0);
    s->roiCount[0] = 1;
    s->setDefaultRoi(0, 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cammer5.*not saved"));
    QVERIFY(!s->SaveDatatoFile());
    QCOMPARE(rowCount("cammer5"), 1);
}

void TstStore::copyTargetsFollowTheMachineMode()
{
    gpWPara = new WizardPara;
    auto s = newStore(0);
    auto to = [&](int from) {
        int t = -1;
        s->getCopyParamIndex(from, t);
        return t;
    };
    gDNum = 4;
    // mode, mould selection, from, to
    const int cases[][4] = {{3, 0, 0, 1}, {3, 0, 3, 0}, {1, 2, 1, 3}, {1, 2, 3, 1}, {1, 2, 0, 2}, {1, 1, 2, 3},
                            {1, 1, 0, 2}, {2, 0, 0, 1}, {2, 0, 2, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}};
    for (const auto& c : cases) {
        gpWPara->systemMode = c[0];
        gpWPara->moldSelect = c[1];
        QVERIFY2(to(c[2]) == c[3], qPrintable(QString("mode %1 mould %2 from %3").arg(c[0]).arg(c[1]).arg(c[2])));
    }
    // mode, from, to and the names the question gives them
    const std::tuple<int, int, int, QString, QString> names[] = {
        {3, 2, 3, MessageTable::text(755).arg(2), MessageTable::text(755).arg(3)},
        {1, 1, 3, MessageTable::text(373), MessageTable::text(375)},
        {0, 0, 1, MessageTable::text(753), MessageTable::text(754)}};
    for (const auto& [mode, from, to, fromName, toName] : names) {
        gpWPara->systemMode = mode;
        QString a, b;
        s->getCopyParamDescri(from, to, a, b);
        QCOMPARE(QStringList({a, b}), QStringList({fromName, toName}));
    }
}

void TstStore::copyParamAsksFirst()
{
    gpWPara = new WizardPara;
    gpWPara->systemMode = 0;
    auto s = newStore(0);
    s->roiCount[0] = 2;
    setParams(*s, 0, 0, 1, 2, 3, 4);
    setRing(*s, 0, 0, 400, 300, 20, 100);
    s->circles[0].SetSelected(true);
    setParams(*s, 0, 1, 5, 6, 7, 8);
    setPolygon(*s, 0, 1, {{10, 10}, {50, 10}, {30, 40}}, true);
    s->roiCount[1] = 4;
    setParams(*s, 1, 3, 99, 99, 99, 99);
    RecordingPrompt operatorAnswers;
    operatorAnswers.answer(false);
    s->copyParam(0);
    QCOMPARE(operatorAnswers.asked().size(), 1);
    QCOMPARE(operatorAnswers.asked().first().text,
             QString("确定要同步%1参数到%2吗？").arg(MessageTable::text(753), MessageTable::text(754)));
    QCOMPARE(QVector<int>({s->roiCount[1], s->paramA[100]}), QVector<int>({4, 0}));
    operatorAnswers.answer(true);
    s->copyParam(0);
    QCOMPARE(operatorAnswers.asked().size(), 2);
    QCOMPARE(QVector<int>({s->roiCount[1], s->paramA[100]}), QVector<int>({2, 2}));
    QCOMPARE(s->funcType[101], 8);
    QCOMPARE(s->shapeKind[100], 4);
    QCOMPARE(s->circles[100].radius, 100);
    QVERIFY(!s->circles[100].IsSelected());
    QVERIFY(s->circles[0].IsSelected());
    QCOMPARE(s->polygons[101].count, 3);
    QVERIFY(s->polygons[101].getHand());
    QCOMPARE(s->paramA[103], 99); // beyond the new count: kept, out of use

    // Masks are shared, not duplicated.
    static cv::Mat masks[8][100];
    masks[0][0] = cv::Mat(5, 5, CV_8U, cv::Scalar(255));
    s->copyDetection(0, 1, masks);
    QCOMPARE(masks[1][0].data, masks[0][0].data);
}

// A child saves two large stores in turn until it is killed; after every
// kill the table must hold exactly one of them. Each kill falls inside a
// save the child has begun, when its rollback journal has grown to a chosen
// share of the table (the save's end when it never gets there): the moments
// follow the save's own progress, however slow this machine is just now.
void TstStore::crashDuringSaveLeavesOldOrNewStore()
{
    const QString dir = QDir::currentPath();
    Rows expect[2];
    for (int v = 0; v < 2; ++v) {
        openParamDb(QString("variant%1.db").arg(v));
        auto s = newStore(0);
        makeVariant(*s, v);
        QVERIFY(s->SaveDatatoFile());
        expect[v] = readRows("cammer0");
    }
    QVERIFY(expect[0] != expect[1]);
    QFile::copy("variant0.db", "PARAM.db");
    closeParamDb();
    const qint64 tableBytes = QFileInfo("PARAM.db").size();

    int hot = 0, seen[2] = {0, 0};
    QRandomGenerator rng(20261206);
    for (int kill = 1; kill <= 30; ++kill) {
        QProcess child;
        child.setWorkingDirectory(dir);
        child.start(QCoreApplication::applicationFilePath(), {"--save-child", dir});
        QVERIFY(child.waitForStarted());
        // Saves 1, 3 ... write the new store over the old, 2, 4 ... the old
        // back: a kill inside save k leaves the store of save k - 1.
        const int k = rng.bounded(1, 5);
        const QByteArray during = "save " + QByteArray::number(k) + '\n';
        const QByteArray after = "save " + QByteArray::number(k + 1) + '\n';
        const qint64 journal = 1 + rng.bounded(int(tableBytes));
        QByteArray said;
        QElapsedTimer bound;
        bound.start();
        while (!said.contains(during) && bound.elapsed() < 60000 && child.waitForReadyRead(60000))
            said += child.readAllStandardOutput();
        QVERIFY2(said.contains(during), said.constData());
        while (!said.contains(after) && QFileInfo("PARAM.db-journal").size() < journal && bound.elapsed() < 60000) {
            child.waitForReadyRead(1);
            said += child.readAllStandardOutput();
        }
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        if (QFile::exists("PARAM.db-journal") && QFileInfo("PARAM.db-journal").size() > 0)
            ++hot; // killed inside a transaction
        openParamDb();
        const Rows now = readRows("cammer0");
        closeParamDb();
        const int which = now == expect[0] ? 0 : now == expect[1] ? 1 : -1;
        QVERIFY2(which >= 0, qPrintable(QString("kill %1: table is neither store (%2 rows)").arg(kill).arg(now.size())));
        ++seen[which];
    }
    qInfo() << hot << "of 30 kills inside a transaction; old/new seen" << seen[0] << seen[1];
    QVERIFY(hot > 0);
    QVERIFY(seen[0] > 0 && seen[1] > 0);
}

// ---- child modes --------------------------------------------------------------

static int saveChild(const QString& dir)
{
    QDir::setCurrent(dir);
    gShowW = 1280;
    gShowH = 800;
    openParamDb();
    auto a = newStore(0);
    auto b = newStore(0);
    makeVariant(*a, 0);
    makeVariant(*b, 1);
    // Each save announced as it begins: the parent kills inside the one it
    // waits for.
    for (int k = 1;; ++k) {
        fprintf(stdout, "save %d\n", k);
        fflush(stdout);
        (k % 2 ? b : a)->SaveDatatoFile();
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--save-child") == 0)
        return saveChild(QString::fromLocal8Bit(argv[2]));
    TstStore t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_store.moc"
