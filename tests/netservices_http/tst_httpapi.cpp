// The HTTP API on the whole station: the main window over the simulated
// camera plug-in and the board simulator's moulding machine on a
// pseudo-terminal, asked by a real HTTP client. What the API answers is
// checked against what the cycles counted and saved, what it changes in the
// files the station keeps, and that bad requests and hostile clients change
// nothing and hold nobody up. Real time; every wait is bounded.
#include "controller/operationrecords.h"
#include "controller/productioncounters.h"
#include "frame/deviceid.h"
#include "frame/globals.h"
#include "frame/ui/startup.h"
#include "inspection/templatestore.h"
#include "netservices/httpapiserver.h"
#include "netservices/zev_netmn.h"
#include "platform/commandrunner.h"
#include "records/resstatisticsparam.h"
#include "testsupport/stationrig.h"

#include <httplib.h>

#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

class TstHttpApi : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void countsClockImagesAndJournal();
    void badRequestsChangeNothing();
    void slowAndManyClients();

private:
    bool startStation(bool runCycles);

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<BoardSim> m_sim;
    std::unique_ptr<ReDoWizard> m_win;
    std::unique_ptr<stationrig::MouldRun> m_run;
    std::unique_ptr<HttpApiServer> m_api;
};

namespace {

const QRect kPin(10, 420, 50, 50);

struct Reply
{
    int status = -1;
    std::string body;
    std::string type;
    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

// One request from a thread of its own while the GUI thread's events run, as
// a client on the network would meet the station.
Reply ask(quint16 port, const std::function<httplib::Result(httplib::Client&)>& send)
{
    auto f = std::async(std::launch::async, [port, send] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(15, 0);
        Reply r;
        if (auto res = send(c)) {
            r.status = res->status;
            r.body = res->body;
            r.type = res->get_header_value("Content-Type");
        }
        return r;
    });
    while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return f.get();
}

Reply post(quint16 port, const char* path, const std::string& body)
{
    return ask(port, [&](httplib::Client& c) { return c.Post(path, body, "application/json"); });
}

Reply get(quint16 port, const std::string& path)
{
    return ask(port, [&](httplib::Client& c) { return c.Get(path.c_str()); });
}

QString fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The journal's rows of today as "kind|text".
QStringList journal()
{
    QStringList out;
    QSqlQuery q(OperationRecords::instance()->database());
    if (q.exec("SELECT recordtype, remarks FROM RECORD ORDER BY rowid"))
        while (q.next())
            out << q.value(0).toString() + "|" + q.value(1).toString();
    return out;
}

int sum(const QJsonArray& a)
{
    int s = 0;
    for (const QJsonValue& v : a)
        s += v.toInt();
    return s;
}

int rawConnect(quint16 port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

} // namespace

void TstHttpApi::init()
{
    m_env = std::make_unique<TestEnv>();
    qputenv("STATION_HTTP_PORT", "0");
}

void TstHttpApi::cleanup()
{
    // In the station's order: the API first.
    m_api.reset();
    if (m_run)
        m_run->stop();
    m_run.reset();
    m_win.reset();
    ResStatisticsParam::destroyInstance();
    if (m_sim)
        m_sim->stop();
    m_sim.reset();
    qunsetenv("STATION_HTTP_PORT");
    m_env.reset();
}

bool TstHttpApi::startStation(bool runCycles)
{
    const QJsonObject cam = stationrig::oneCamera(*m_env, "HTTP-1");
    m_sim = std::make_unique<BoardSim>();
    std::string err;
    if (cam.isEmpty() || !stationrig::startBoard(*m_sim, &err)
        || !stationrig::teachMould(cam, {{0, kPin, 25, 100, 3}}, stationrig::statisticsOn))
        return false;
    // The device: its name in the network settings, its identity from the
    // CPU serial, as the start-up takes them.
    if (!m_env->writeSimFile("/proc/cpuinfo", "processor\t: 0\nSerial\t\t: 1000-00000000cafe\n")
        || !m_env->writeWorkFile("ruv_net/config.json", R"({"devicename": "LINE-7"})"))
        return false;
    m_win = std::make_unique<ReDoWizard>();
    gDeviceID = getlocal_deviceid();
    writeVersionToJson();
    ZEV_NETMN::getInstance()->initStart();
    m_api = std::make_unique<HttpApiServer>();
    if (!m_api->start() || m_api->address() != "127.0.0.1")
        return false;
    m_win->show();
    if (runCycles) {
        m_run = std::make_unique<stationrig::MouldRun>(*m_sim, *m_win, *m_win->views[0]);
        gPicNumOK = 5;
    }
    return true;
}

void TstHttpApi::countsClockImagesAndJournal()
{
    QVERIFY(startStation(true));
    const quint16 port = m_api->port();
    // Three OK cycles, counted and their images saved.
    QTRY_VERIFY_WITH_TIMEOUT(ProductionCounters::load(gAllCycleNum[0]) >= 3, 15000);
    m_run->stop();
    const QString okFolder = TemplateStore::resultFolder(0, 1, true);
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(okFolder).entryList({"*.jpg"}, QDir::Files).isEmpty(), 5000);
    const int cycles = ProductionCounters::load(gAllCycleNum[0]);
    QVERIFY(cycles > 0);
    // The statistics reach their day file as at the orderly end.
    ResStatisticsParam::getInstance()->shutdown();

    // Production counts around today: the hourly series add up to the cycles.
    const QDateTime now = QDateTime::currentDateTime();
    const std::string range = QJsonDocument(QJsonObject{
        {"starttime", now.addDays(-2).toString("yyyy-MM-dd hh:mm:ss")},
        {"finishtime", now.addSecs(3600).toString("yyyy-MM-dd hh:mm:ss")}}).toJson().toStdString();
    Reply r = post(port, "/v18/http/get_production_count_bytime", range);
    QCOMPARE(r.status, 200);
    QJsonObject counts = r.json();
    QCOMPARE(sum(counts["detect_all"].toArray()), cycles);
    QCOMPARE(sum(counts["detect_ng"].toArray()), 0);
    QCOMPARE(sum(counts["detect_all_detail"].toArray().at(0).toArray()), cycles);
    QCOMPARE(counts["detect_all"].toArray().size(), counts["detect_ng_detail"].toArray().at(0).toArray().size());
    QCOMPARE(counts["devicename"].toString(), QString("LINE-7"));
    QCOMPARE(counts["deviceid"].toString(), QString("00000000cafe"));

    // Counter clear: zero in memory and in count.ini, the record written.
    QVERIFY(!journal().contains("API|API: 清除计数"));
    r = post(port, "/v18/http/clear_count", "{}");
    QCOMPARE(r.status, 200);
    for (int c = 0; c < 8; ++c)
        QVERIFY(!gAllCycleNum[c] && !gAllNum[c] && !gFailNum[c] && !gFailCycleNum[c]);
    QSettings ini(ProductionCounters::filePath(), QSettings::IniFormat);
    const QStringList zeros{"0", "0", "0", "0", "0", "0", "0", "0"};
    QCOMPARE(ini.value("list_allcyclenum").toStringList(), zeros);
    QCOMPARE(ini.value("list_allnum").toStringList(), zeros);
    QVERIFY(journal().contains("API|API: 清除计数"));

    // Clock set: logged (not run) on the simulated platform, and recorded.
    r = post(port, "/v18/http/set_system_time", R"({"time": "2027-01-02 03:04:05"})");
    QCOMPARE(r.status, 200);
    const QStringList cmds = CommandRunner::loggedCommands();
    const int at = cmds.indexOf(QRegularExpression("^date -s \"2027-01-02 03:04:05\"$"));
    QVERIFY2(at >= 0 && cmds.value(at + 1) == "hwclock --systohc", qPrintable(cmds.join('\n')));
    QVERIFY(journal().contains("API|API: 修改系统时间,2027-01-02 03:04:05"));

    // The day's journal as the API reads it.
    const QString today = OperationRecords::instance()->storedDay();
    r = post(port, "/v18/http/get_operation_record", ("{\"date\": \"" + today + "\"}").toStdString());
    QCOMPARE(r.status, 200);
    QStringList rows;
    for (const QJsonValue& v : r.json()["records"].toArray())
        rows << v["recordtype"].toString() + "|" + v["remarks"].toString();
    QCOMPARE(rows, journal());

    // A saved result image, byte for byte.
    const QString name = QDir(okFolder).entryList({"*.jpg"}, QDir::Files).first();
    QFile jpeg(QDir(okFolder).filePath(name));
    QVERIFY(jpeg.open(QIODevice::ReadOnly));
    r = get(port, "/v18/http/get_result_image/camera1/detect2/OK/" + name.toStdString());
    QCOMPARE(r.status, 200);
    QVERIFY(r.type == "image/jpeg");
    QVERIFY(QByteArray::fromStdString(r.body) == jpeg.readAll());

    // Nothing outside alarmimage/: climbing out, absolute names, encoded
    // dots, and links placed inside that point out.
    QVERIFY(QFile::link(QDir::current().absoluteFilePath("ruv_net/config.json"), okFolder + "/out.jpg"));
    QVERIFY(QDir().mkpath("elsewhere/detect2/OK"));
    QVERIFY(QFile::copy(jpeg.fileName(), "elsewhere/detect2/OK/x.jpg"));
    QVERIFY(QFile::link(QDir::current().absoluteFilePath("elsewhere"), "alarmimage/camera2"));
    QVERIFY(QDir().mkpath(okFolder + "/folder.jpg"));
    const char* hostile[] = {
        "/v18/http/get_result_image/camera1/detect2/OK/folder.jpg",
        "/v18/http/get_result_image/camera1/detect2/OK/../../../../ruv_net/config.json",
        "/v18/http/get_result_image/camera1/detect2/OK/%2e%2e%2f%2e%2e%2f%2e%2e%2f%2e%2e%2fruv_net%2fconfig.json",
        "/v18/http/get_result_image/camera1/detect2/OK/%2e%2e",
        "/v18/http/get_result_image/camera1/detect2/OK/%2Fetc%2Fpasswd",
        "/v18/http/get_result_image/camera1/detect2/OK/out.jpg",
        "/v18/http/get_result_image/camera2/detect2/OK/x.jpg",
        "/v18/http/get_result_image/camera1/detect2/..%2F..%2F..%2Fruv_net/config.json",
    };
    for (const char* path : hostile) {
        r = get(port, path);
        QVERIFY2(r.status == 400 || r.status == 404, path);
        QVERIFY2(r.json().contains("error"), path);
        QVERIFY2(r.body.find("LINE-7") == std::string::npos && r.body.find("\xff\xd8") == std::string::npos, path);
    }

    // Out of descriptors is the station's state, not the image's: 503 with
    // Retry-After, not 404. A first answer on the connection shows it taken;
    // then every free descriptor below a lowered limit is filled.
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVERIFY(::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
    const auto exchange = [s](const std::string& file) {
        const std::string req = "GET /v18/http/get_result_image/camera1/detect2/OK/" + file + " HTTP/1.1\r\nHost: a\r\n\r\n";
        std::string got;
        char b[4096];
        ssize_t n = ::send(s, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size()) ? 1 : 0;
        while (n > 0 && got.find("}") == std::string::npos && (n = ::recv(s, b, sizeof b, 0)) > 0)
            got.append(b, size_t(n));
        return got;
    };
    QVERIFY(exchange("none.jpg").rfind("HTTP/1.1 404", 0) == 0);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlimit before = files;
    files.rlim_cur = 0;
    for (const QString& fd : QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        files.rlim_cur = std::max<rlim_t>(files.rlim_cur, rlim_t(fd.toULong() + 1));
    ::setrlimit(RLIMIT_NOFILE, &files);
    std::vector<int> filled;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filled.push_back(fd);
    const std::string busy = exchange(name.toStdString());
    for (int fd : filled)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &before);
    ::close(s);
    QVERIFY2(busy.rfind("HTTP/1.1 503", 0) == 0 && busy.find("Retry-After: 1\r\n") != std::string::npos,
             busy.c_str());
}

void TstHttpApi::badRequestsChangeNothing()
{
    QVERIFY(startStation(false));
    const quint16 port = m_api->port();
    ProductionCounters::store(gAllCycleNum[0], 42);
    ProductionCounters::CountWrite();
    const QString ini = fileText(ProductionCounters::filePath());
    const QStringList rows = journal();
    const QStringList cmds = CommandRunner::loggedCommands();

    struct Bad
    {
        const char* path;
        std::string body;
        int status;
    };
    const std::string big(HttpApiServer::kMaxBody + 1, ' ');
    const Bad bad[] = {
        {"/v18/http/clear_count", "{", 400},
        {"/v18/http/clear_count", "[1]", 400},
        {"/v18/http/clear_count", "", 400},
        {"/v18/http/clear_count", "{\"x\": \"" + big + "\"}", 413},
        {"/v18/http/set_system_time", "{}", 400},
        {"/v18/http/set_system_time", R"({"time": 20270102})", 400},
        {"/v18/http/set_system_time", R"({"time": "2027-02-30 10:00:00"})", 400},
        {"/v18/http/set_system_time", R"({"time": "2027-01-02 25:00:00"})", 400},
        {"/v18/http/set_system_time", R"({"time": "2027-01-02 10:00:00; reboot"})", 400},
        // Years no panel clock holds.
        {"/v18/http/set_system_time", R"({"time": "9999-01-02 10:00:00"})", 400},
        {"/v18/http/set_system_time", R"({"time": "1999-12-31 23:59:59"})", 400},
        {"/v18/http/get_production_count_bytime", R"({"starttime": "2026-01-01 00:00:00"})", 400},
        {"/v18/http/get_production_count_bytime", R"({"starttime": 1, "finishtime": 2})", 400},
        {"/v18/http/get_production_count_bytime",
         R"({"starttime": "2026-01-02 00:00:00", "finishtime": "2026-01-01 00:00:00"})", 400},
        {"/v18/http/get_operation_record", R"({"date": "../RECORD"})", 400},
        {"/v18/http/no_such_thing", "{}", 404},
    };
    for (const Bad& b : bad) {
        const Reply r = post(port, b.path, b.body);
        QVERIFY2(r.status == b.status, qPrintable(QString("%1 %2: %3 %4").arg(b.path).arg(QString::fromStdString(
                                                      b.body.substr(0, 60))).arg(r.status).arg(QString::fromStdString(r.body))));
        QVERIFY2(!r.json().value("error").toString().isEmpty(), b.path);
    }
    // A known route with the wrong method.
    Reply r = get(port, "/v18/http/clear_count");
    QCOMPARE(r.status, 405);
    QVERIFY(r.json().contains("error"));
    r = ask(port, [](httplib::Client& c) { return c.Post("/v18/http/get_result_image/camera1/detect1/OK/a.jpg"); });
    QCOMPARE(r.status, 405);

    QCOMPARE(ProductionCounters::load(gAllCycleNum[0]), 42);
    QCOMPARE(fileText(ProductionCounters::filePath()), ini);
    QCOMPARE(journal(), rows);
    QCOMPARE(CommandRunner::loggedCommands(), cmds);
}

void TstHttpApi::slowAndManyClients()
{
    QVERIFY(startStation(false));
    const quint16 port = m_api->port();
    // A second station on the same port does not start beside the first.
    qputenv("STATION_HTTP_PORT", QByteArray::number(port));
    QVERIFY(!HttpApiServer().start());
    ProductionCounters::store(gAllCycleNum[0], 7);
    const std::string line = "POST /v18/http/clear_count HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
    // True when the server answered or closed the connection before the
    // whole request went out at one byte every gapMs.
    auto trickle = [port, line](int gapMs) {
        const int s = rawConnect(port);
        bool closed = s < 0;
        for (size_t i = 0; i < line.size() && !closed; ++i) {
            closed = ::send(s, &line[i], 1, MSG_NOSIGNAL) != 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            char c = 0;
            closed = closed || ::recv(s, &c, 1, MSG_DONTWAIT) >= 0;
        }
        ::close(s);
        return closed;
    };
    QElapsedTimer t;
    t.start();
    // However the bytes trickle, a request not whole within its deadline is
    // refused, and it holds no thread meanwhile: a byte a second and a byte
    // every 200 ms alike.
    auto second = std::async(std::launch::async, trickle, 1000);
    std::vector<std::future<bool>> slow;
    for (int i = 0; i < 3; ++i)
        slow.push_back(std::async(std::launch::async, trickle, 200));
    std::vector<int> idle;
    for (int i = 0; i < 2 * HttpApiServer::kThreads; ++i)
        idle.push_back(rawConnect(port));
    // Meanwhile many clients ask at once: all are answered, soon.
    std::vector<std::future<int>> many;
    for (int i = 0; i < 24; ++i)
        many.push_back(std::async(std::launch::async, [port] {
            httplib::Client c("127.0.0.1", port);
            c.set_read_timeout(20, 0);
            auto r = c.Post("/v18/http/get_operation_record", R"({"date": "2001-01-01"})", "application/json");
            return r ? r->status : -1;
        }));
    auto wait = [](auto& f) {
        while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return f.get();
    };
    for (auto& f : many)
        QCOMPARE(wait(f), 200);
    // All answered while the slowest trickle still holds its connection:
    // it is cut 2 s after its first byte, and sees it a byte later.
    QVERIFY2(second.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready,
             qPrintable(QString::number(t.elapsed())));
    // Cut, each, long before its last byte (a byte a second would take a
    // minute).
    QVERIFY(wait(second));
    for (auto& f : slow)
        QVERIFY(wait(f));
    for (int s : idle)
        ::close(s);
    QCOMPARE(ProductionCounters::load(gAllCycleNum[0]), 7);

    // The run ends while a clear waits for the screen thread, which is busy
    // ending it: the server stops at once, the clear is withdrawn, not done.
    ProductionCounters::store(gAllCycleNum[0], 5);
    auto pending = std::async(std::launch::async, [port] {
        httplib::Client c("127.0.0.1", port);
        auto r = c.Post("/v18/http/clear_count", "{}", "application/json");
        return r ? r->status : -1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    t.restart();
    m_api->stop();
    // The clear's wait for the screen thread is called off, not waited out.
    QVERIFY2(t.elapsed() < HttpApiServer::kGuiWaitMs / 2, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(pending.get(), 503);
    QCoreApplication::processEvents();
    QCOMPARE(ProductionCounters::load(gAllCycleNum[0]), 5);
}

QTEST_MAIN(TstHttpApi)
#include "tst_httpapi.moc"
