#include "mqttworker.h"

#include "mqttlayout.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The keep-alive and any write the socket could not take at once are looked after at least
// this often; socket activity wakes the loop in between.
constexpr int LoopIntervalMs = 500;

} // namespace

MqttWorker::MqttWorker(const MqttForwarding& settings, const QString& password,
                       const ForwardTiming& timing)
    : ForwardWorker(QStringLiteral("MqttTarget"), timing), m_settings(settings),
      m_password(password), m_statusTopic(MqttLayout::statusTopic(settings.topicPrefix).toUtf8()),
      m_loopTimer(new QTimer(this)), m_connectTimer(new QTimer(this))
{
    QString problem = MqttLayout::prefixProblem(settings.topicPrefix);
    if (problem.isEmpty() && settings.host.trimmed().isEmpty())
        problem = QStringLiteral("No broker host is set.");
    // Never a login with an empty password for want of the stored one, nor one readable on the
    // way unless the user allowed it.
    if (problem.isEmpty() && !settings.user.isEmpty()) {
        if (!settings.passwordProblem.isEmpty())
            problem = settings.passwordProblem;
        else if (!settings.tls && settings.cleartext == CleartextPassword::Refused)
            problem = QStringLiteral("The password is not sent unencrypted: choose TLS, or "
                                     "tick \"send the password unencrypted\".");
    }
    setProblem(problem);

    m_loopTimer->setInterval(LoopIntervalMs);
    connect(m_loopTimer, &QTimer::timeout, this, &MqttWorker::service);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        failConnection(QStringLiteral("The broker did not answer within %1 s.")
                           .arg(this->timing().connectTimeoutMs / 1000.0));
    });
}

MqttWorker::~MqttWorker()
{
    unwatchSocket();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

void MqttWorker::retry()
{
    connectTarget();
}

void MqttWorker::connectTarget()
{
    status().state = ForwardStatus::State::Connecting;
    ++status().attempts;
    reportNow();

    m_connack = -1;
    m_lastLog.clear();
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq) {
        failConnection(QStringLiteral("The MQTT client could not be made."));
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttWorker::onConnect);
    mosquitto_publish_callback_set(m_mosq, &MqttWorker::onPublish);
    mosquitto_log_callback_set(m_mosq, &MqttWorker::onLog);
    mosquitto_max_inflight_messages_set(m_mosq, unsigned(std::max(1, timing().maxInFlight)));

    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.user.isEmpty())
        rc = mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
                                       m_password.toUtf8().constData());
    const QByteArray offline = MqttLayout::offline();
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_will_set(m_mosq, m_statusTopic.constData(), offline.size(),
                                offline.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && m_settings.tls) {
        // The broker's certificate and name are always checked: against the given authority,
        // or the system's.
        if (m_settings.caFile.isEmpty())
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(m_mosq, QFile::encodeName(m_settings.caFile).constData(),
                                   nullptr, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(m_mosq, 1, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(m_mosq, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            failConnection(QStringLiteral("TLS cannot be set up with the CA file \"%1\": %2")
                               .arg(m_settings.caFile, QString::fromUtf8(mosquitto_strerror(rc))));
            return;
        }
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        errno = 0;
        rc = mosquitto_connect_async(m_mosq, m_settings.host.trimmed().toUtf8().constData(),
                                     m_settings.port, timing().keepAliveSeconds);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        failConnection(errorText(rc, errno));
        return;
    }
    m_connectTimer->start(timing().connectTimeoutMs);
    m_loopTimer->start();
    watchSocket();
}

void MqttWorker::service()
{
    if (!m_mosq)
        return;
    errno = 0;
    const int rc = mosquitto_loop(m_mosq, 0, 1);
    const int savedErrno = errno;

    if (m_connack > 0) {
        failConnection(QStringLiteral("The broker refused the connection: ") +
                       QString::fromUtf8(mosquitto_connack_string(m_connack)));
        return;
    }
    if (m_connack == 0 && !m_connected) {
        m_connected = true;
        m_connectTimer->stop();
        // The library formats a log line for every packet while a log callback is set; its
        // words are needed only for a failing connection (OpenSSL's reason).
        mosquitto_log_callback_set(m_mosq, nullptr);
        const QByteArray online = MqttLayout::online();
        mosquitto_publish(m_mosq, nullptr, m_statusTopic.constData(), online.size(),
                          online.constData(), 1, true);
        succeeded();
        qDebug().noquote() << trace("connected") + m_settings.host + QLatin1Char(':') +
                                  QString::number(m_settings.port);
        report(true);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        failConnection(errorText(rc, savedErrno));
        return;
    }
    publishWaiting();
    watchSocket();
}

void MqttWorker::watchSocket()
{
    const int socket = m_mosq ? mosquitto_socket(m_mosq) : -1;
    if (socket != m_socket)
        unwatchSocket();
    if (socket < 0)
        return;
    if (!m_readNotifier) {
        m_socket = socket;
        m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttWorker::service);
        m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttWorker::service);
    }
    // Until the TCP connection is up the library holds CONNECT back; writable then means
    // connected.
    m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttWorker::unwatchSocket()
{
    // Before the library closes the socket: no notifier may watch a closed descriptor.
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_socket = -1;
}

void MqttWorker::dropConnection()
{
    unwatchSocket();
    m_connectTimer->stop();
    m_loopTimer->stop();
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    m_connected = false;
}

void MqttWorker::failConnection(const QString& error)
{
    dropConnection();

    // The broker may have these or not: they go again, first and in their order.
    std::vector<Message> again;
    again.reserve(m_inFlight.size());
    for (auto& entry : m_inFlight)
        again.push_back(std::move(entry.second));
    m_inFlight.clear();
    std::sort(again.begin(), again.end(),
              [](const Message& a, const Message& b) { return a.sequence < b.sequence; });
    m_waiting.insert(m_waiting.begin(), std::make_move_iterator(again.begin()),
                     std::make_move_iterator(again.end()));
    fail(error);
}

void MqttWorker::publishWaiting()
{
    if (!m_connected)
        return;
    bool refused = false;
    while (!m_waiting.empty() && int(m_inFlight.size()) < timing().maxInFlight) {
        Message& message = m_waiting.front();
        int mid = 0;
        const int rc =
            mosquitto_publish(m_mosq, &mid, message.topic.constData(), message.payload.size(),
                              message.payload.constData(), 1, message.retained);
        if (rc == MOSQ_ERR_SUCCESS) {
            m_inFlight.emplace(mid, std::move(message));
            m_waiting.pop_front();
            continue;
        }
        // Only a message no broker can take (a topic or payload the protocol forbids) is given
        // up: sending it again would not change that. Any other failure (a connection that
        // broke under the write: an errno, a lost or missing connection, no memory) leaves it
        // waiting; the loop notices the connection, and a refusal taken for it would drop a
        // sample the broker never saw.
        const bool forbidden = rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_PAYLOAD_SIZE ||
                               rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_OVERSIZE_PACKET ||
                               rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
        if (!forbidden)
            break;
        // Named and counted, never lost without a word.
        status().lastError =
            QStringLiteral("The %1 %2 cannot be sent to \"%3\": %4")
                .arg(forwardRecordKindText(message.kind))
                .arg(message.id)
                .arg(QString::fromUtf8(message.topic.left(200)),
                     QString::fromUtf8(mosquitto_strerror(rc)));
        qWarning().noquote() << trace("publish") + status().lastError;
        ++status().refused;
        acknowledge(message.kind, message.id, message.part, true);
        m_waiting.pop_front();
        refused = true;
    }
    report(refused);
}

void MqttWorker::send(const ForwardBatch& batch)
{
    const QString& prefix = m_settings.topicPrefix;
    for (const ForwardSample& sample : batch.samples) {
        Message message;
        message.sequence = ++m_sequence;
        message.topic = MqttLayout::sampleTopic(prefix, sample.serial, sample.channel).toUtf8();
        message.payload = MqttLayout::samplePayload(sample);
        message.id = sample.rowId;
        message.part = sample.channel;
        m_waiting.push_back(std::move(message));
    }
    for (const ForwardAlarmChange& change : batch.alarmChanges) {
        Message message;
        message.sequence = ++m_sequence;
        message.topic = MqttLayout::alarmTopic(prefix, change.serial).toUtf8();
        message.payload = MqttLayout::alarmPayload(change);
        message.kind = ForwardRecordKind::AlarmChange;
        message.id = change.changeMark;
        m_waiting.push_back(std::move(message));
    }
    if (batch.auditHead) {
        // Retained: whoever subscribes later still reads the newest head at once.
        Message message;
        message.sequence = ++m_sequence;
        message.topic = MqttLayout::auditHeadTopic(prefix).toUtf8();
        message.payload = MqttLayout::auditHeadPayload(*batch.auditHead);
        message.kind = ForwardRecordKind::AuditHead;
        message.retained = true;
        message.id = batch.auditHead->sequence;
        m_waiting.push_back(std::move(message));
    }
    if (batch.alarmTest) {
        Message message;
        message.sequence = ++m_sequence;
        message.topic = MqttLayout::alarmTestTopic(prefix, batch.alarmTest->serial).toUtf8();
        message.payload = MqttLayout::alarmTestPayload(*batch.alarmTest);
        message.kind = ForwardRecordKind::AlarmTest;
        message.id = batch.alarmTest->testId;
        m_waiting.push_back(std::move(message));
    }
    publishWaiting();
    if (m_mosq)
        watchSocket();
    // A test waits for its answer: it is passed on at once, not gathered.
    report(bool(batch.alarmTest));
}

void MqttWorker::closeTarget()
{
    if (m_mosq && m_connected) {
        // A clean goodbye: the broker drops the will on DISCONNECT, so "offline" is said here.
        const QByteArray offline = MqttLayout::offline();
        mosquitto_publish(m_mosq, nullptr, m_statusTopic.constData(), offline.size(),
                          offline.constData(), 1, true);
        mosquitto_disconnect(m_mosq);
    }
    dropConnection();
}

void MqttWorker::countQueue(ForwardStatus& status) const
{
    status.inFlight = int(m_inFlight.size());
    status.waiting = int(m_waiting.size());
}

QString MqttWorker::errorText(int rc, int savedErrno) const
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return QStringLiteral("Connection to %1:%2: %3")
            .arg(m_settings.host)
            .arg(m_settings.port)
            .arg(QString::fromLocal8Bit(std::strerror(savedErrno)));
    case MOSQ_ERR_EAI:
        return QStringLiteral("The broker's host name \"%1\" cannot be resolved.")
            .arg(m_settings.host);
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("TLS connection failed") +
               (m_lastLog.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + m_lastLog);
    default:
        break;
    }
    QString text = QString::fromUtf8(mosquitto_strerror(rc));
    if (!m_lastLog.isEmpty())
        text += QStringLiteral(" (") + m_lastLog + QLatin1Char(')');
    return text;
}

void MqttWorker::onConnect(mosquitto*, void* self, int rc)
{
    static_cast<MqttWorker*>(self)->m_connack = rc;
}

void MqttWorker::onPublish(mosquitto*, void* self, int mid)
{
    auto* worker = static_cast<MqttWorker*>(self);
    const auto it = worker->m_inFlight.find(mid);
    if (it == worker->m_inFlight.end())
        return; // the status message
    worker->acknowledge(it->second.kind, it->second.id, it->second.part);
    worker->m_inFlight.erase(it);
}

void MqttWorker::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
        static_cast<MqttWorker*>(self)->m_lastLog = QString::fromUtf8(text);
}
