#include "netservices/modbusserver.h"

#include <QtDebug>

#include <atomic>

namespace {
std::atomic<bool> g_told{false};
} // namespace

ModbusServer::ModbusServer()
{
    if (!g_told.exchange(true))
        qInfo("Modbus TCP slave: not part of this build, port %u is not opened", unsigned(kPort));
}

ModbusServer::~ModbusServer() = default;
