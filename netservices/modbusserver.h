#pragma once
#include <QString>
#include <QThreadPool>
#include <QtGlobal>

#include <atomic>

// The Modbus TCP slave. No register map belongs to this station, so every
// read or write of a coil or register is answered with the exception "illegal
// data address", and any other function with "illegal function". It serves
// from its own one-thread pool and never stalls the station or one client for
// another: a client that sends garbage, does not complete a frame within its
// deadline, says nothing for a while or never reads its answers is dropped,
// the places are shared per peer address so that no address's clients take
// another's, a master that dials again finds a place beside many quiet
// addresses, and a port that is already taken is logged and left alone.
//
// Port 502; STATION_MODBUS_PORT moves it. Under STATION_SIMROOT the slave
// listens on the loopback address only, so a desktop run is not shown on the
// network.
class ModbusServer
{
public:
    ModbusServer();
    // Stops serving and closes every connection.
    ~ModbusServer();
    // The same, at the start of the station's end: the port is closed and
    // every client let go, so nothing answers for a station that is gone.
    void stop();

    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    static constexpr quint16 kPort = 502;
    // At most this many clients at once.
    static constexpr int kMaxClients = 64;
    // At most this many of them from one peer address. A further one from
    // that address takes the place of that address's quietest connection
    // (the one whose last whole frame is oldest, one that has sent none
    // first); a further one on a full table takes the quietest place of the
    // addresses that will then hold the most, never of an address holding no
    // more than the newcomer's will. So no address's crowd, however it dials,
    // takes a master's place.
    static constexpr int kMaxClientsPerPeer = 8;
    // When no address would hold more than a newcomer's new address, a
    // connection silent longer than this gives way to it (the quietest such
    // first), and the newcomer is let go when none has been. A master
    // polling every 10 s may miss two polls and still never be the one;
    // holding a place costs a frame this often.
    static constexpr int kYieldAfterMs = 30000;
    // Connections the kernel holds for the slave until it takes them; it
    // takes all that wait (at most kMaxClients) every round.
    static constexpr int kListenBacklog = 64;
    // A frame is due whole this long after its first byte, however its bytes
    // are spaced (a pause inside it alone is no reason to drop a client).
    static constexpr int kFrameDeadlineMs = 1000;
    // A client silent this long is dropped (station clock).
    static constexpr int kIdleMs = 60000;

    quint16 port() const { return m_port; }
    bool isListening() const { return m_listen >= 0; }
    // The address it listens on (or was to): "127.0.0.1" under
    // STATION_SIMROOT, else "0.0.0.0", every IPv4 address.
    QString address() const { return m_address; }
    // Why it does not listen ("<address>:<port>: <reason>"); empty while it
    // listens or after an orderly stop.
    QString whyNotListening() const { return m_whyNot; }

private:
    void serve();

    quint16 m_port = kPort;
    QString m_address;
    QString m_whyNot;
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    QThreadPool m_pool;
};
