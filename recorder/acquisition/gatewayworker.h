#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

class ModbusDevice;

// The Modbus link of one gateway on a thread of its own, so that connects and reads that wait
// for a slow or dead gateway never hold up the user interface or the other gateways. It takes
// one request at a time and answers each with answered(), queued back to the gateway's thread.
class GatewayWorker : public QObject
{
    Q_OBJECT

public:
    GatewayWorker();
    ~GatewayWorker() override;

    // Thread-safe: ends the exchange in progress at once; requests fail without reaching the
    // gateway until close() has run on the worker's thread.
    void interrupt();

public slots:
    void setDeviceInfo(const QString& ip, quint16 port);
    // One read of the block; the poll time and refresh flag only travel back with the answer.
    void request(quint64 serial, int startAddress, int registerCount, const QDateTime& pollTime,
                 bool refresh);
    void close();

signals:
    // The block bytes, or an empty block when the poll brought no data.
    void answered(quint64 serial, const QByteArray& block, const QDateTime& pollTime, bool refresh);

private:
    ModbusDevice* link;
    QByteArray delivered;
};
