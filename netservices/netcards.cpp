#include "netservices/netcards.h"

#include "frame/safefile.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>

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
// A card's attribute file: only a regular file is read, so a FIFO or a
// device laid there cannot hold the dialog or the start-up.
QString readLine(const QString& path)
{
    QByteArray bytes;
    if (!readRegularFile(path, &bytes, nullptr, 4096))
        return QString();
    return QString::fromLatin1(bytes.split('\n').value(0)).trimmed();
}

// Names from outside (a card's folder) on one log line, control characters
// spelled out.
std::string forLog(const QString& text)
{
    QString out;
    for (const QChar c : text)
        out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                                         : QString(c);
    return out.toStdString();
}

// The settings file as an object, empty when it is missing or unusable. A
// file that is there but holds no object is copied to config.json.damaged
// when keepDamaged is set (before a write replaces it), so the settings in
// it stay for the service engineer.
QJsonObject loadConfig(bool keepDamaged)
{
    const QString path = NetCards::configPath();
    QByteArray data;
    QString why;
    if (!readRegularFile(path, &data, &why)) {
        if (why != QLatin1String("missing"))
            qWarning().noquote() << "ruv_net/config.json not read:" << why;
        return {};
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error == QJsonParseError::NoError && doc.isObject())
        return doc.object();
    if (data.isEmpty() || !keepDamaged)
        return {};
    if (err.error != QJsonParseError::NoError)
        qWarning().noquote() << "ruv_net/config.json does not parse at offset" << err.offset << ":" << err.errorString()
                             << "- kept as config.json.damaged";
    else
        qWarning().noquote() << "ruv_net/config.json holds a JSON" << (doc.isArray() ? "array" : "value")
                             << "where an object is expected - kept as config.json.damaged";
    if (!replaceRegularFile(path + QStringLiteral(".damaged"), data, &why))
        qWarning().noquote() << "ruv_net/config.json.damaged not written:" << why;
    return {};
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
    return loadConfig(false);
}

bool NetCards::mergeConfig(const QJsonObject& values, bool makeFolder)
{
    // Refused before anything is read: what a link leads to is neither
    // written nor copied aside as the station's damaged file.
    const QFileInfo at(configPath());
    if (at.isSymLink() || (at.exists() && !at.isFile())) {
        LOG(ERROR) << "network settings not stored in " << configPath().toStdString() << ": "
                   << (at.isSymLink() ? "a link stands there; neither it nor what it points to is written"
                                      : "not a regular file; left as it is");
        return false;
    }
    QJsonObject all = loadConfig(true);
    for (auto it = values.begin(); it != values.end(); ++it)
        all.insert(it.key(), it.value());
    if (makeFolder)
        QDir().mkpath(QStringLiteral("./ruv_net"));
    else if (!QFileInfo(QStringLiteral("./ruv_net")).isDir())
        return false;
    // Beside the old file and renamed over it: a power cut keeps one whole.
    // A link laid at its name is left alone, and so is what it points to.
    QString why;
    if (!replaceRegularFile(configPath(), QJsonDocument(all).toJson(), &why)) {
        LOG(ERROR) << "network settings not stored in " << configPath().toStdString() << ": " << why.toStdString();
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
    LOG(INFO) << "network card " << forLog(c.name) << ": " << (c.enabled ? "on" : "off") << ", "
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
