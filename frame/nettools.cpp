#include "frame/nettools.h"
#include "platform/commandrunner.h"
#include "platform/platformpath.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

std::string ethaddr2string(uchar* mac)
{
    if (!mac)
        return std::string();
    char buf[18];
    std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return std::string(buf);
}

int string2ethaddr(const QString& text, uchar* mac)
{
    if (!mac)
        return 0;
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return 0;
    uchar bytes[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        if (!ok || v > 0xFF) {
            // A malformed part would otherwise become a zero byte.
            qWarning() << "string2ethaddr: not a MAC address" << text;
            return 0;
        }
        bytes[i] = static_cast<uchar>(v);
    }
    std::memcpy(mac, bytes, 6);
    return 0;
}

bool setIPLast(QString& ip, int n)
{
    QStringList parts = ip.split(QLatin1Char('.'));
    parts.last() = QString::number(n);
    ip = parts.join(QLatin1Char('.'));
    return true;
}

QString getSubNet(const QString& ip, const QString& mask)
{
    const QStringList a = ip.split(QLatin1Char('.'));
    const QStringList m = mask.split(QLatin1Char('.'));
    if (a.size() != 4 || m.size() != 4)
        return QString();
    QStringList out;
    for (int i = 0; i < 4; ++i) {
        bool ok1 = false, ok2 = false;
        const int x = a[i].toInt(&ok1, 10);
        const int y = m[i].toInt(&ok2, 10);
        if (!ok1 || !ok2)
            return QString();
        out << QString::number(x & y);
    }
    return out.join(QLatin1Char('.'));
}

int set_socket_nonblock(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return fcntl(fd, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
}

int RandPort()
{
    for (;;) {
        const int v = std::rand();
        const int low = v & 0xFFFF;
        if (low >= 10001 && !(low >= 10410 && low <= 10419))
            return v;
    }
}

namespace {

void copyText(char* dst, size_t size, const std::string& text)
{
    if (!dst)
        return;
    std::snprintf(dst, size, "%s", text.c_str());
}

std::string dotted(const sockaddr& sa)
{
    const auto* in = reinterpret_cast<const sockaddr_in*>(&sa);
    char buf[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &in->sin_addr, buf, sizeof(buf));
    return std::string(buf);
}

// Installs a default route through addr. On the simulated platform the
// routing table is left alone and the equivalent commands are logged.
int installDefaultRoute(in_addr addr)
{
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &addr, text, sizeof(text));
    if (platform::isSimulated()) {
        CommandRunner::system(QStringLiteral("route del default"));
        if (addr.s_addr == 0)
            return 0;
        return CommandRunner::system(QStringLiteral("route add default gw %1").arg(QString::fromLatin1(text))) == 0
            ? 0 : -8;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0)
        return -7;
    rtentry rt;
    std::memset(&rt, 0, sizeof(rt));
    auto* dst = reinterpret_cast<sockaddr_in*>(&rt.rt_dst);
    auto* msk = reinterpret_cast<sockaddr_in*>(&rt.rt_genmask);
    dst->sin_family = AF_INET;
    msk->sin_family = AF_INET;
    rt.rt_flags = RTF_UP;
    int ret = ioctl(sock, SIOCDELRT, &rt);
    if ((ret == 0 || errno == ESRCH) && addr.s_addr != 0) {
        auto* gw = reinterpret_cast<sockaddr_in*>(&rt.rt_gateway);
        gw->sin_family = AF_INET;
        gw->sin_addr = addr;
        rt.rt_flags = RTF_UP | RTF_GATEWAY;
        ret = ioctl(sock, SIOCADDRT, &rt);
    }
    close(sock);
    return ret < 0 ? -8 : 0;
}

} // namespace

int GetIfAddr(char* ifname, char* ip, char* mask, char* gateway, char* mac)
{
    if (!ifname) {
        qWarning() << "GetIfAddr: no interface name";
        return -2;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        qWarning() << "socket error";
        return -1;
    }
    ifreq req;
    std::memset(&req, 0, sizeof(req));
    std::strncpy(req.ifr_name, ifname, IFNAMSIZ - 1);
    if (ioctl(sock, SIOCGIFHWADDR, &req) < 0) {
        close(sock);
        qWarning() << "ioctl SIOCGIFHWADDR error";
        return -2;
    }
    copyText(mac, 18, ethaddr2string(reinterpret_cast<uchar*>(req.ifr_hwaddr.sa_data)));
    if (ioctl(sock, SIOCGIFADDR, &req) < 0) {
        close(sock);
        return -4;
    }
    const in_addr own = reinterpret_cast<const sockaddr_in*>(&req.ifr_addr)->sin_addr;
    copyText(ip, 16, dotted(req.ifr_addr));
    if (ioctl(sock, SIOCGIFNETMASK, &req) < 0) {
        close(sock);
        return -5;
    }
    copyText(mask, 16, dotted(req.ifr_netmask));
    close(sock);

    FILE* f = std::fopen(platform::path(QStringLiteral("/proc/net/route")).toLocal8Bit().constData(), "r");
    if (!f)
        return -6;
    char line[257];
    bool found = false;
    unsigned long gw = 0;
    if (std::fgets(line, sizeof(line), f)) { // header
        while (std::fgets(line, sizeof(line), f)) {
            char name[64];
            unsigned long dest = 0, g = 0;
            if (std::sscanf(line, "%63s\t%lX\t%lX", name, &dest, &g) == 3 && dest == 0) {
                gw = g;
                found = true;
                break;
            }
        }
    }
    std::fclose(f);
    in_addr gateAddr;
    if (found) {
        gateAddr.s_addr = static_cast<in_addr_t>(gw);
    } else {
        const int r = installDefaultRoute(own);
        if (r < 0)
            return r;
        gateAddr = own;
    }
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &gateAddr, text, sizeof(text));
    copyText(gateway, 16, text);
    return 0;
}

bool FirstFoundBaseIP()
{
    bool found = false;
    const auto ifaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : ifaces) {
        if (!iface.isValid() || !(iface.flags() & QNetworkInterface::IsUp)) {
            qInfo() << "iface: NO Valid";
            continue;
        }
        if (iface.name() == QLatin1String("lo"))
            continue;
        for (const QNetworkAddressEntry& e : iface.addressEntries()) {
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol && e.ip().toString().contains(QLatin1String("169.254.")))
                found = true;
        }
    }
    return found;
}
