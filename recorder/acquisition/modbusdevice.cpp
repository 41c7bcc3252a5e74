#include "modbusdevice.h"

#include "acquisitionlog.h"

#include <QDebug>
#include <QtEndian>

#include <modbus.h>
#include <sys/socket.h>

void ModbusDevice::ContextDeleter::operator()(_modbus* ctx) const
{
    modbus_close(ctx);
    modbus_free(ctx);
}

ModbusDevice::ModbusDevice(QObject* parent) : QObject(parent) {}

ModbusDevice::~ModbusDevice()
{
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::~ModbusDevice : [" << ip << "]";
    if (context)
        close();
}

void ModbusDevice::setDeviceInfo(const QString& newIp, quint16 newPort)
{
    ip = newIp;
    port = newPort;
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::setDeviceInfo : [" << ip << "] : [" << port
                                 << "]";
}

bool ModbusDevice::open()
{
    if (context && (contextIp != ip || contextPort != port)) {
        std::lock_guard<std::mutex> lock(socketMutex);
        socketFd = -1;
        context.reset();
    }
    if (!context) {
        // The library refuses an empty address or one longer than 15 characters.
        const QByteArray address = ip.toLatin1();
        if (!address.isEmpty() && address.size() <= 15) {
            context.reset(modbus_new_tcp(address.constData(), port));
            contextIp = ip;
            contextPort = port;
        }
    }
    const int ret = context ? 1 : -1;
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        abandoned = interrupted;
    }
    if (context && !abandoned) {
        connected = modbus_connect(context.get()) == 0;
        // Only a connected socket is handed to interrupt(): one that is still connecting may
        // be closed by the library at any moment, and its number reused.
        std::lock_guard<std::mutex> lock(socketMutex);
        if (connected && interrupted)
            connected = false;
        else if (connected)
            socketFd = modbus_get_socket(context.get());
    }
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::open : [" << ip << "] : [" << port << "] : "
                                 << connected << " ret: " << ret;
    return connected;
}

void ModbusDevice::write()
{
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::write : [" << ip << "] : " << connected;
    if (!connected)
        open();
    readRegisters();
}

void ModbusDevice::readRegisters()
{
    std::fill(std::begin(registers), std::end(registers), quint16(0));
    int n = -1;
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        abandoned = interrupted;
    }
    // The library refuses more than 125 registers itself; the buffer bound keeps a larger count
    // from ever reaching it.
    if (context && !abandoned && registerCount >= 0 && registerCount <= MaxRegisters)
        n = modbus_read_registers(context.get(), startAddress, registerCount, registers);
    qCDebug(lcAcquisition).noquote().nospace() << "modbus_read_registers : " << n;

    if (n >= 0 && n == registerCount) {
        QByteArray data(2 * n, Qt::Uninitialized);
        for (int i = 0; i < n; ++i)
            qToLittleEndian(registers[i], data.data() + 2 * i);
        emit readyRead(data);
    } else {
        close();
    }
}

void ModbusDevice::close()
{
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::close : [" << ip << "]";
    {
        std::lock_guard<std::mutex> lock(socketMutex);
        socketFd = -1;
        interrupted = false;
        context.reset();
    }
    connected = false;
    qCDebug(lcAcquisition).noquote().nospace() << "ModbusDevice::modbusDeleted : [" << ip << "]";
}

void ModbusDevice::interrupt()
{
    std::lock_guard<std::mutex> lock(socketMutex);
    interrupted = true;
    // Wakes a read blocked on the socket: it fails at once instead of waiting for the timeouts.
    if (socketFd >= 0)
        ::shutdown(socketFd, SHUT_RDWR);
}
