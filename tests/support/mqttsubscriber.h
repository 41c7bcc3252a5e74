#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <mutex>

struct mosquitto;

// A subscriber of the test's own (libmosquitto on the library's thread) with a persistent
// session: a fixed client id and no clean session, QoS 1, so that what the broker queued for it
// while it was away (or the broker was stopped with persistence) still arrives. It reconnects by
// itself after the broker comes back.
class MqttSubscriber
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    MqttSubscriber(const QString& clientId, quint16 port, const QString& topicFilter);
    ~MqttSubscriber();

    // Connects and waits until the broker confirmed the subscription.
    bool start(int timeoutMs = 10000);
    void stop();

    QVector<Message> messages() const;
    int count() const;
    // How many messages arrived on `topic`.
    int count(const QString& topic) const;

private:
    static void onConnect(mosquitto* mosq, void* self, int rc);
    static void onSubscribe(mosquitto* mosq, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* mosq, void* self, const struct mosquitto_message* message);

    QByteArray m_clientId;
    quint16 m_port;
    QByteArray m_filter;
    mosquitto* m_mosq = nullptr;
    bool m_running = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_subscribedChanged;
    bool m_subscribed = false;
    QVector<Message> m_messages;
};
