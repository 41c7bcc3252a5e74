#include "gatewayworker.h"

#include "modbusdevice.h"

GatewayWorker::GatewayWorker() : link(new ModbusDevice(this))
{
    connect(link, &ModbusDevice::readyRead, this,
            [this](const QByteArray& data) { delivered = data; });
}

GatewayWorker::~GatewayWorker() = default;

void GatewayWorker::interrupt()
{
    link->interrupt();
}

void GatewayWorker::setDeviceInfo(const QString& ip, quint16 port)
{
    link->setDeviceInfo(ip, port);
}

void GatewayWorker::request(quint64 serial, int startAddress, int registerCount,
                            const QDateTime& pollTime, bool refresh)
{
    link->startAddress = startAddress;
    link->registerCount = registerCount;
    delivered.clear();
    link->write();
    emit answered(serial, delivered, pollTime, refresh);
    delivered.clear();
}

void GatewayWorker::close()
{
    link->close();
}
