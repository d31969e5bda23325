#include "netservices/netcards.h"

#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSaveFile>

#include <glog/logging.h>

QJsonObject NetCards::Card::toJson() const
{
    return QJsonObject{{"enable", enabled}, {"connect", connect}, {"dhcp", dhcp},   {"ip", ip},
                       {"mask", mask},      {"gateway", gateway}, {"dns", dns}};
}

NetCards::Card NetCards::Card::fromJson(const QString& name, const QJsonObject& o)
{
    Card c;
    c.name = name;
    c.enabled = o.value("enable").toBool(true);
    c.connect = o.value("connect").toBool(false);
    c.dhcp = o.value("dhcp").toBool(true);
    c.ip = o.value("ip").toString();
    c.mask = o.value("mask").toString();
    c.gateway = o.value("gateway").toString();
    c.dns = o.value("dns").toString();
    return c;
}

QString NetCards::configPath() { return QStringLiteral("./ruv_net/config.json"); }

QString NetCards::scriptCommand() { return QStringLiteral("python3 ./ruv_net/zivod20_upnetcard.py"); }

QStringList NetCards::names()
{
    QStringList out = QDir(platform::path("/sys/class/net")).entryList(QDir::Dirs | QDir::Files | QDir::System
                                                                         | QDir::NoDotAndDotDot, QDir::Name);
    out.removeAll(QStringLiteral("lo"));
    return out;
}

namespace {
QString readLine(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readLine()).trimmed() : QString();
}
} // namespace

QList<NetCards::Card> NetCards::cards()
{
    const QJsonObject kept = readConfig().value("netcards").toObject();
    QList<Card> out;
    for (const QString& n : names()) {
        Card c = Card::fromJson(n, kept.value(n).toObject());
        const QString dir = platform::path("/sys/class/net/" + n);
        c.mac = readLine(dir + "/address");
        c.up = readLine(dir + "/operstate") == QLatin1String("up");
        out << c;
    }
    return out;
}

QJsonObject NetCards::readConfig()
{
    QFile f(configPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

bool NetCards::mergeConfig(const QJsonObject& values)
{
    QJsonObject all = readConfig();
    for (auto it = values.begin(); it != values.end(); ++it)
        all.insert(it.key(), it.value());
    QDir().mkpath(QStringLiteral("./ruv_net"));
    // Beside the old file and renamed over it: a power cut keeps one whole.
    QSaveFile out(configPath());
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(all).toJson()) < 0 || !out.commit()) {
        LOG(ERROR) << "network settings not stored in " << configPath().toStdString();
        return false;
    }
    return true;
}

bool NetCards::save(const Card& c)
{
    QJsonObject cards = readConfig().value("netcards").toObject();
    // One card connects the station: choosing this one releases the others.
    if (c.connect)
        for (auto it = cards.begin(); it != cards.end(); ++it) {
            QJsonObject o = it.value().toObject();
            o.insert("connect", false);
            it.value() = o;
        }
    cards.insert(c.name, c.toJson());
    return mergeConfig(QJsonObject{{"netcards", cards}});
}

bool NetCards::apply(const Card& c)
{
    if (!save(c))
        return false;
    LOG(INFO) << "network card " << c.name.toStdString() << ": " << (c.enabled ? "on" : "off") << ", "
              << (c.dhcp ? "automatic" : ("static " + c.ip + "/" + c.mask).toStdString());
    return CommandRunner::system(scriptCommand()) == 0;
}

QString NetCards::ping(const QString& host)
{
    if (!isAddress(host))
        return QString();
    return QString::fromLocal8Bit(CommandRunner::bash("ping -c 3 -W 1 " + CommandRunner::quote(host), 10000).output);
}

bool NetCards::isAddress(const QString& text)
{
    const QStringList parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || v < 0 || v > 255 || p.isEmpty() || p.size() > 3)
            return false;
    }
    return true;
}
