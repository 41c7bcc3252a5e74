#pragma once

#include "forwardingsettings.h"
#include "forwardtiming.h"
#include "forwardworker.h"
#include "retrybackoff.h"

#include <QByteArray>

#include <deque>
#include <map>

class QSocketNotifier;
class QTimer;
struct mosquitto;

// The MQTT side of MqttTarget, on the target's thread. libmosquitto is driven from this
// thread's event loop (socket notifiers and a timer calling mosquitto_loop without waiting)
// rather than from the library's own thread: every callback and all state stay on one thread
// without locks, and connecting, the wait for the broker's answer and the back-off after a
// failure are decided here; the library's own reconnect loop gives up silently after TLS and
// name errors and waits for no answer to CONNECT.
class MqttWorker : public ForwardWorker
{
    Q_OBJECT

public:
    MqttWorker(const MqttForwarding& settings, const QString& password,
               const ForwardTiming& timing);
    ~MqttWorker() override;

    void start() override;
    void send(const ForwardBatch& batch) override;
    void shutdown() override;

private:
    struct Message
    {
        quint64 sequence = 0; // order of hand-over, kept when sent again
        QByteArray topic;
        QByteArray payload;
        bool alarm = false;
        qint64 id = 0; // row id or change mark
        int part = 0;  // channel of a sample
    };

    void connectToBroker();
    // One turn of the library's loop without waiting, then whatever it brought.
    void service();
    void watchSocket();
    void unwatchSocket();
    // Drops the connection; what was in flight goes back to the front of the queue, in order,
    // and the next attempt waits for the back-off.
    void fail(const QString& error);
    void publishWaiting();
    // Passes on acknowledgements and counters: at once, or gathered for a short while.
    void report(bool now);
    void reportNow();
    QString errorText(int rc, int savedErrno) const;

    static void onConnect(mosquitto* mosq, void* self, int rc);
    static void onPublish(mosquitto* mosq, void* self, int mid);
    static void onLog(mosquitto* mosq, void* self, int level, const char* text);

    const MqttForwarding m_settings;
    const QString m_password;
    const ForwardTiming m_timing;
    const QByteArray m_statusTopic;
    QString m_problem; // a setting that makes connecting pointless

    mosquitto* m_mosq = nullptr;
    int m_socket = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_loopTimer;
    QTimer* m_connectTimer;
    QTimer* m_retryTimer;
    QTimer* m_reportTimer;
    RetryBackoff m_backoff;

    std::deque<Message> m_waiting;
    std::map<int, Message> m_inFlight; // by message id
    quint64 m_sequence = 0;
    bool m_connected = false;
    int m_connack = -1; // the broker's answer, noted by the callback
    QString m_lastLog;  // the library's last error line (OpenSSL's reason for a TLS failure)

    ForwardAck m_ack;
    ForwardStatus m_status;
    ForwardStatus m_reported;
};
