#include "gatewayserver.h"

#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int functionReadHolding = 3;
constexpr int maxReadCount = 125; // the protocol's limit for one read request
constexpr int tcpHeaderLength = 7;

// Register address and count of a read request (function code 3), or false for any other
// request or one that the gateway cannot serve.
bool readRequest(const quint8* request, int length, int registerCount, int* address, int* count)
{
    if (length < tcpHeaderLength + 5 || request[tcpHeaderLength] != functionReadHolding)
        return false;
    *address = (request[tcpHeaderLength + 1] << 8) | request[tcpHeaderLength + 2];
    *count = (request[tcpHeaderLength + 3] << 8) | request[tcpHeaderLength + 4];
    return *count >= 1 && *count <= maxReadCount && *address + *count <= registerCount;
}

constexpr int firstFreePort = 20000;
constexpr int lastFreePort = 32767;

// Listening socket on the loopback address only: the simulator must never be reachable from
// the network. Returns -1 and sets *errorNumber on failure.
int listenOn(quint16 port, int* errorNumber)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx) {
        *errorNumber = errno;
        return -1;
    }
    const int fd = modbus_tcp_listen(ctx, 32);
    *errorNumber = errno;
    modbus_free(ctx);
    return fd;
}

// The reply to a read request carrying `served` registers from `address` on: a well-formed
// frame, whatever the request asked for.
std::vector<quint8> readReply(const quint8* request, const quint16* registers, int address,
                              int served)
{
    std::vector<quint8> reply(9 + 2 * size_t(served));
    reply[0] = request[0]; // transaction id
    reply[1] = request[1];
    reply[2] = 0; // protocol id
    reply[3] = 0;
    const int following = 3 + 2 * served;
    reply[4] = quint8(following >> 8);
    reply[5] = quint8(following & 0xFF);
    reply[6] = request[6]; // unit id
    reply[7] = functionReadHolding;
    reply[8] = quint8(2 * served);
    for (int i = 0; i < served; ++i) {
        reply[9 + 2 * i] = quint8(registers[address + i] >> 8);
        reply[10 + 2 * i] = quint8(registers[address + i] & 0xFF);
    }
    return reply;
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void drain(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

struct GatewayServer::Connection
{
    modbus_t* ctx = nullptr;
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};

    ~Connection()
    {
        if (thread.joinable())
            thread.join();
        // The socket is closed only here, after the thread ended, so that stop() can never
        // shut down a descriptor number that was already reused.
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
};

GatewayServer::GatewayServer(int index, SimGateway layout, Clock::time_point epoch)
    : m_index(index), m_epoch(epoch), m_port(layout.port), m_layout(std::move(layout))
{
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakePipe[0] = m_wakePipe[1] = -1;
}

GatewayServer::~GatewayServer()
{
    stop();
    for (int fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

double GatewayServer::now() const
{
    return std::chrono::duration<double>(Clock::now() - m_epoch).count();
}

bool GatewayServer::listen(QString* error)
{
    endUnreachable();
    if (isListening())
        return true;
    if (m_wakePipe[0] < 0) {
        *error = QStringLiteral("cannot create wake-up pipe");
        return false;
    }
    int fd = -1;
    int listenErrno = 0;
    if (m_port != 0) {
        fd = listenOn(m_port, &listenErrno);
    } else {
        // A free port below the kernel's ephemeral range, which the recorder's editor accepts
        // (it takes ports up to 49151) and which outgoing connections do not occupy.
        std::mt19937 random{std::random_device{}()};
        std::uniform_int_distribution<int> pick(firstFreePort, lastFreePort);
        for (int attempt = 0; attempt < 500 && fd < 0; ++attempt) {
            m_port = quint16(pick(random));
            fd = listenOn(m_port, &listenErrno);
            if (fd < 0 && listenErrno != EADDRINUSE)
                break;
        }
        if (fd < 0)
            m_port = 0;
    }
    if (fd < 0) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(m_port)
                     .arg(QString::fromLocal8Bit(std::strerror(listenErrno)));
        return false;
    }
    // Non-blocking, so that a connection reset between poll() and accept() cannot hang us.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);

    drain(m_wakePipe[0]);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = false;
    }
    m_listenFd = fd;
    m_acceptThread = std::thread(&GatewayServer::acceptLoop, this);
    return true;
}

void GatewayServer::stop()
{
    endUnreachable();
    if (!isListening())
        return;
    const char byte = 's';
    while (::write(m_wakePipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
    m_acceptThread.join();
    ::close(m_listenFd);
    m_listenFd = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        for (const auto& connection : m_connections)
            ::shutdown(connection->fd, SHUT_RDWR);
    }
    m_wake.notify_all();
    reapFinished(true);
}

bool GatewayServer::makeUnreachable(QString* error)
{
    if (isUnreachable())
        return true;
    stop();
    const sockaddr_in address = loopback(m_port);
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd, target, sizeof address) != 0 || ::listen(fd, 0) != 0) {
        *error = QStringLiteral("cannot hold 127.0.0.1:%1: %2")
                     .arg(m_port)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_blockFd = fd;
    // Every connection the kernel completes takes a place in the queue, as nobody accepts it;
    // the first one that does not complete at once was dropped: the queue is full.
    for (int i = 0; i < 16; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (filler < 0)
            break;
        m_blockFillers.push_back(filler);
        if (::connect(filler, target, sizeof address) == 0)
            continue;
        if (errno != EINPROGRESS)
            break;
        pollfd wait = {filler, POLLOUT, 0};
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::poll(&wait, 1, 200) <= 0 ||
            ::getsockopt(filler, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0)
            break;
    }
    return true;
}

void GatewayServer::endUnreachable()
{
    for (int fd : m_blockFillers)
        ::close(fd);
    m_blockFillers.clear();
    if (m_blockFd >= 0)
        ::close(m_blockFd);
    m_blockFd = -1;
}

void GatewayServer::reapFinished(bool all)
{
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            auto next = std::next(it);
            if (all || (*it)->finished)
                done.splice(done.end(), m_connections, it);
            it = next;
        }
    }
    done.clear(); // joins outside the lock: the threads take it while they run
}

void GatewayServer::acceptLoop()
{
    modbus_t* acceptCtx = modbus_new_tcp("127.0.0.1", m_port);
    if (!acceptCtx)
        return;
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        const int rc = ::poll(fds, 2, 1000);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            break;
        reapFinished(false);
        if (rc <= 0 || !(fds[0].revents & POLLIN))
            continue;
        // Some library versions close the socket they were given when accept fails: hand
        // them a duplicate so that the listening socket itself always survives.
        int listenCopy = ::fcntl(m_listenFd, F_DUPFD_CLOEXEC, 0);
        if (listenCopy < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        const int fd = modbus_tcp_accept(acceptCtx, &listenCopy);
        const int acceptErrno = errno;
        if (listenCopy >= 0)
            ::close(listenCopy);
        modbus_set_socket(acceptCtx, -1);
        if (fd < 0) {
            if (acceptErrno == EMFILE || acceptErrno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->ctx = modbus_new_tcp("127.0.0.1", m_port);
        if (!connection->ctx) {
            ::close(fd);
            continue;
        }
        modbus_set_socket(connection->ctx, fd);
        ++m_accepted;
        Connection* raw = connection.get();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.push_back(std::move(connection));
        raw->thread = std::thread(&GatewayServer::serve, this, raw);
    }
    modbus_free(acceptCtx);
}

void GatewayServer::serve(Connection* connection)
{
    int registerCount = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        registerCount = m_layout.registerCount();
    }
    // Each connection has its own mapping, so replies never wait for another client.
    modbus_mapping_t* mapping = modbus_mapping_new(0, 0, registerCount, 0);
    // Twice the largest frame: a hostile byte count must never reach past the buffer, whatever
    // the library version checks.
    std::vector<quint8> request(2 * MODBUS_TCP_MAX_ADU_LENGTH);
    while (mapping) {
        // Fails on disconnect, on garbage and on a request cut short: the connection ends,
        // the gateway goes on.
        const int length = modbus_receive(connection->ctx, request.data());
        if (length < 0)
            break;
        if (length == 0)
            continue;
        ++m_requests;
        FaultMode mode = FaultMode::None;
        int parameter = 0;
        bool dropNow = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closing)
                break;
            mode = m_fault;
            parameter = m_faultParameter;
            ++m_requestsSinceFault;
            dropNow = mode == FaultMode::Drop && parameter > 0 &&
                      m_requestsSinceFault % quint64(parameter) == 0;
        }
        if (mode == FaultMode::Silent)
            continue;
        if (dropNow) {
            ::shutdown(connection->fd, SHUT_RDWR);
            break;
        }
        if (mode == FaultMode::Slow) {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_for(lock, std::chrono::milliseconds(parameter),
                                [this] { return m_closing; }))
                break;
        }
        if (mode == FaultMode::Exception) {
            modbus_reply_exception(connection->ctx, request.data(), unsigned(parameter));
            continue;
        }
        if (mode == FaultMode::Trickle) {
            if (!trickle(connection, request.data(), length, mapping, parameter))
                break;
            continue;
        }
        answer(connection, request.data(), length, mapping, mode == FaultMode::Short);
    }
    if (mapping)
        modbus_mapping_free(mapping);
    connection->finished = true;
}

// Answers one read from the current register image; a short answer is a well-formed reply
// that carries one register fewer than requested.
void GatewayServer::answer(Connection* connection, const quint8* request, int length,
                           modbus_mapping_t* mapping, bool shortAnswer)
{
    // The gateway's registers are read-only: anything but a read is refused up front.
    if (length <= tcpHeaderLength || request[tcpHeaderLength] != functionReadHolding) {
        modbus_reply_exception(connection->ctx, request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        return;
    }
    quint16* registers = mapping->tab_registers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_layout.fillRegisters(now(), registers, mapping->nb_registers);
    }
    int address = 0;
    int count = 0;
    const bool servable = readRequest(request, length, mapping->nb_registers, &address, &count);
    if (!shortAnswer) {
        // The library itself refuses reads outside the mapping with an exception.
        if (modbus_reply(connection->ctx, request, length, mapping) > 0 && servable)
            ++m_polls;
        return;
    }
    if (!servable) {
        modbus_reply_exception(connection->ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        return;
    }
    const std::vector<quint8> reply = readReply(request, registers, address, count - 1);
    ::send(connection->fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

// Answers a read in full, but one byte at a time, each after `delayMs`; anything else as
// answer() does. False when the connection must end: the gateway stops or the client left.
bool GatewayServer::trickle(Connection* connection, const quint8* request, int length,
                            modbus_mapping_t* mapping, int delayMs)
{
    int address = 0;
    int count = 0;
    if (!readRequest(request, length, mapping->nb_registers, &address, &count)) {
        answer(connection, request, length, mapping, false);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_layout.fillRegisters(now(), mapping->tab_registers, mapping->nb_registers);
    }
    const std::vector<quint8> reply = readReply(request, mapping->tab_registers, address, count);
    // Each byte leaves on its own segment instead of waiting for the previous one's ack.
    const int one = 1;
    ::setsockopt(connection->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (const quint8 byte : reply) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_for(lock, std::chrono::milliseconds(delayMs),
                                [this] { return m_closing; }))
                return false;
        }
        if (::send(connection->fd, &byte, 1, MSG_NOSIGNAL) != 1)
            return false;
    }
    ++m_polls;
    return true;
}

SimNode* GatewayServer::findNode(int startRegister)
{
    for (SimNode& node : m_layout.nodes) {
        if (node.startRegister == startRegister)
            return &node;
    }
    return nullptr;
}

bool GatewayServer::hasNode(int startRegister) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const SimNode& node : m_layout.nodes) {
        if (node.startRegister == startRegister)
            return true;
    }
    return false;
}

bool GatewayServer::setChannel(int startRegister, int channel, ValuePattern pattern)
{
    if (channel < 1 || channel > 2)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    SimNode* node = findNode(startRegister);
    if (!node)
        return false;
    pattern.setOrigin(now());
    node->channel[channel - 1] = pattern;
    return true;
}

bool GatewayServer::setLqi(int startRegister, qint32 value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SimNode* node = findNode(startRegister);
    if (node)
        node->lqi = value;
    return node != nullptr;
}

bool GatewayServer::setBattery(int startRegister, qint32 value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SimNode* node = findNode(startRegister);
    if (node)
        node->battery = value;
    return node != nullptr;
}

void GatewayServer::setFault(FaultMode mode, int parameter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = mode;
    m_faultParameter = parameter;
    m_requestsSinceFault = 0;
}

GatewayStats GatewayServer::stats() const
{
    GatewayStats s;
    s.polls = m_polls;
    s.requests = m_requests;
    s.connections = m_accepted;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& connection : m_connections) {
        if (!connection->finished)
            ++s.clients;
    }
    return s;
}

QString GatewayServer::describe() const
{
    QStringList starts;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const SimNode& node : m_layout.nodes)
        starts << QString::number(node.startRegister);
    return QStringLiteral("gateway %1 127.0.0.1:%2 %3 nodes %4")
        .arg(m_index)
        .arg(m_port)
        .arg(m_layout.model,
             starts.isEmpty() ? QStringLiteral("-") : starts.join(QLatin1Char(',')));
}
