#pragma once

#include "simgateway.h"

#include <QString>

#include <modbus/modbus.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// How a gateway misbehaves on purpose, so that clients can be tested against it.
enum class FaultMode
{
    None,      // answers normally
    Silent,    // accepts connections and requests, never answers
    Slow,      // answers after `parameter` milliseconds
    Exception, // answers with Modbus exception `parameter`
    Short,     // answers with one register fewer than requested
    Drop,      // closes the connection on every `parameter`-th request, unanswered
    Trickle,   // answers one byte at a time, each after `parameter` milliseconds
};

struct GatewayStats
{
    quint64 polls = 0;       // requests answered with register data
    quint64 requests = 0;    // requests received
    quint64 connections = 0; // connections accepted
    int clients = 0;         // connections open now
};

// One simulated Modbus TCP gateway on 127.0.0.1: an accepting thread plus one thread per
// client connection, so that a slow or silent client never holds up another one.
// All public functions are called from the command thread.
class GatewayServer
{
public:
    using Clock = std::chrono::steady_clock;

    GatewayServer(int index, SimGateway layout, Clock::time_point epoch);
    ~GatewayServer();
    GatewayServer(const GatewayServer&) = delete;
    GatewayServer& operator=(const GatewayServer&) = delete;

    // Starts listening: on the configured port the first time, on the same port afterwards.
    // Ends the unreachable state.
    bool listen(QString* error);
    // Closes the listening socket and every connection; connects are refused until listen().
    void stop();
    bool isListening() const { return m_listenFd >= 0; }
    // Stops serving and holds the port with a listening socket whose queue of pending
    // connections is full and never drained: a connect attempt waits until the client gives
    // up, as with a gateway that cannot be reached. Ended by listen() or stop().
    bool makeUnreachable(QString* error);
    bool isUnreachable() const { return m_blockFd >= 0; }

    int index() const { return m_index; }
    quint16 port() const { return m_port; }
    QString model() const { return m_layout.model; }
    QString describe() const;

    bool hasNode(int startRegister) const;
    bool setChannel(int startRegister, int channel, ValuePattern pattern);
    bool setLqi(int startRegister, qint32 value);
    bool setBattery(int startRegister, qint32 value);
    void setFault(FaultMode mode, int parameter);
    GatewayStats stats() const;

private:
    struct Connection;

    double now() const;
    SimNode* findNode(int startRegister);
    void acceptLoop();
    void serve(Connection* connection);
    void answer(Connection* connection, const quint8* request, int length,
                modbus_mapping_t* mapping, bool shortAnswer);
    bool trickle(Connection* connection, const quint8* request, int length,
                 modbus_mapping_t* mapping, int delayMs);
    void reapFinished(bool all);
    void endUnreachable();

    const int m_index;
    const Clock::time_point m_epoch;
    quint16 m_port = 0;

    mutable std::mutex m_mutex; // guards m_layout, the fault settings and m_connections
    std::condition_variable m_wake;
    SimGateway m_layout;
    FaultMode m_fault = FaultMode::None;
    int m_faultParameter = 0;
    quint64 m_requestsSinceFault = 0;
    bool m_closing = false;
    std::list<std::unique_ptr<Connection>> m_connections;

    std::atomic<quint64> m_polls{0};
    std::atomic<quint64> m_requests{0};
    std::atomic<quint64> m_accepted{0};

    int m_listenFd = -1;
    int m_blockFd = -1;              // the full listening socket while unreachable
    std::vector<int> m_blockFillers; // our own connections that fill its queue
    int m_wakePipe[2] = {-1, -1};
    std::thread m_acceptThread;
};
