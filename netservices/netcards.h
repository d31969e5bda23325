#pragma once
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The network cards of the panel and what the network settings keep for
// them and for the station's own network identity, in "ruv_net/config.json"
// (the file the network-card script and the network services read). The
// cards are those under /sys/class/net (on the simulated platform, below
// STATION_SIMROOT), the loopback excepted. Applying a card's settings stores
// them and runs the network-card script through the command runner, so on
// the simulated platform it is logged and not run.
class NetCards
{
public:
    struct Card
    {
        QString name;
        QString mac;         // from the card's "address" file
        bool up = false;     // its "operstate" reads "up"
        bool enabled = true; // message 613
        bool connect = false; // the card the station connects with (message 410)
        bool dhcp = true;    // connection mode: automatic (609) or static (608)
        QString ip, mask, gateway, dns;

        QJsonObject toJson() const;
        static Card fromJson(const QString& name, const QJsonObject& o);
        bool operator==(const Card& o) const { return toJson() == o.toJson() && name == o.name; }
    };

    static QString configPath(); // "./ruv_net/config.json"
    static QString scriptCommand(); // the network-card script

    static QStringList names();
    // Every card with its kept settings (defaults for a card never set).
    static QList<Card> cards();
    // Stores one card's settings; false when the file cannot be written.
    static bool save(const Card& c);
    // Stores and applies (runs the network-card script); false on failure.
    static bool apply(const Card& c);

    // The station's own settings (keys "devicename", "serveraddr",
    // "serverport") read and merged into the file. Only a
    // regular file is read, never waiting on whatever else stands there; a
    // file that holds no JSON object is kept as config.json.damaged before
    // the merge replaces it. The merge is refused (false, logged) when a
    // link or anything but a regular file stands at the file's name.
    // makeFolder false: nothing is written without the ruv_net folder.
    static QJsonObject readConfig();
    static bool mergeConfig(const QJsonObject& values, bool makeFolder = true);

    // "ping -c 3 -W 1 <host>" and its output.
    static QString ping(const QString& host);
    // A dotted IPv4 address with four octets 0..255.
    static bool isAddress(const QString& text);
};
