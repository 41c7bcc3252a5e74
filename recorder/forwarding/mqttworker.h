#pragma once

#include "forwardingsettings.h"
#include "forwardworker.h"

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

    void send(const ForwardBatch& batch) override;

private:
    struct Message
    {
        quint64 sequence = 0; // order of hand-over, kept when sent again
        QByteArray topic;
        QByteArray payload;
        ForwardRecordKind kind = ForwardRecordKind::Sample;
        bool retained = false;
        qint64 id = 0; // row id, change mark or head sequence
        int part = 0;  // channel of a sample
    };

    void connectTarget() override;
    // Connects again: a new client, as at the start.
    void retry() override;
    // Says "offline" on the status topic and disconnects, without waiting for the broker.
    void closeTarget() override;
    void countQueue(ForwardStatus& status) const override;

    // One turn of the library's loop without waiting, then whatever it brought.
    void service();
    void watchSocket();
    void unwatchSocket();
    void dropConnection();
    // Drops the connection; what was in flight goes back to the front of the queue, in order,
    // and the next attempt waits for the back-off.
    void failConnection(const QString& error);
    void publishWaiting();
    QString errorText(int rc, int savedErrno) const;

    static void onConnect(mosquitto* mosq, void* self, int rc);
    static void onPublish(mosquitto* mosq, void* self, int mid);
    static void onLog(mosquitto* mosq, void* self, int level, const char* text);

    const MqttForwarding m_settings;
    const QString m_password;
    const QByteArray m_statusTopic;

    mosquitto* m_mosq = nullptr;
    int m_socket = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_loopTimer;
    QTimer* m_connectTimer;

    std::deque<Message> m_waiting;
    std::map<int, Message> m_inFlight; // by message id
    quint64 m_sequence = 0;
    bool m_connected = false;
    int m_connack = -1; // the broker's answer, noted by the callback
    QString m_lastLog;  // the library's last error line (OpenSSL's reason for a TLS failure)
};
