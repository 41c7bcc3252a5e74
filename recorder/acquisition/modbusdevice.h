#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <mutex>

struct _modbus;

// Modbus TCP client of one gateway. Each write() is one poll: connect when needed, read one
// block of holding registers and hand the registers on through readyRead(), low byte of each
// register first. A failed poll is silent; the link closes and reconnects at the next one.
// The calls block: the link lives on a thread of its own, and only interrupt() may be called
// from another thread.
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
    // Thread-safe. Ends the exchange in progress at once (a read waiting for a gateway that
    // answers slowly or not at all fails) and makes write() fail without a request until the
    // next close(). A connect attempt already under way still runs to its timeout.
    void interrupt();

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

    // Guards the two below, and the release of the context: interrupt() shuts the socket
    // down only while it is certain that the descriptor still belongs to this link.
    std::mutex socketMutex;
    int socketFd = -1;
    bool interrupted = false;
};
