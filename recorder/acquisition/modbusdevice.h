#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

struct _modbus;

// Modbus TCP client of one gateway. Each write() is one poll: connect when needed, read one
// block of holding registers and hand the registers on through readyRead(), low byte of each
// register first. A failed poll is silent; the link closes and reconnects at the next one.
class ModbusDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRegisters = 128;

    explicit ModbusDevice(QObject* parent = nullptr);
    ~ModbusDevice() override;

    void setDeviceInfo(const QString& ip, quint16 port);
    bool open();
    void write();
    void close();

    bool isConnected() const { return connected; }

    // Written directly by the owning gateway.
    int startAddress = 0;
    int registerCount = 0;

signals:
    void readyRead(const QByteArray& data);

private:
    struct ContextDeleter
    {
        void operator()(_modbus* context) const;
    };

    void readRegisters();

    QString ip;
    quint16 port = 502;
    std::unique_ptr<_modbus, ContextDeleter> context;
    QString contextIp;
    quint16 contextPort = 0;
    quint16 registers[MaxRegisters] = {};
    bool connected = false;
};
