#pragma once
#include <QtGlobal>

// The Modbus TCP slave (holding registers 0 to 4 on port 502). The slave is
// not part of this station build: making one opens no socket at all, so a
// desktop run never needs root for the privileged port and never shows the
// machine on the network; the first one made says so in the log.
class ModbusServer
{
public:
    ModbusServer();
    ~ModbusServer();

    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // The port a full build would serve.
    static constexpr quint16 kPort = 502;
};
