#include "mqttsubscriber.h"

#include <mosquitto.h>

#include <chrono>

MqttSubscriber::MqttSubscriber(const QString& clientId, quint16 port, const QString& topicFilter)
    : m_clientId(clientId.toUtf8()), m_port(port), m_filter(topicFilter.toUtf8())
{
    mosquitto_lib_init();
}

MqttSubscriber::~MqttSubscriber()
{
    stop();
}

bool MqttSubscriber::start(int timeoutMs)
{
    stop();
    m_mosq = mosquitto_new(m_clientId.constData(), false, this);
    if (!m_mosq)
        return false;
    mosquitto_connect_callback_set(m_mosq, &MqttSubscriber::onConnect);
    mosquitto_subscribe_callback_set(m_mosq, &MqttSubscriber::onSubscribe);
    mosquitto_message_callback_set(m_mosq, &MqttSubscriber::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_subscribed = false;
    }
    if (mosquitto_connect(m_mosq, "127.0.0.1", m_port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return false;
    m_running = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_subscribedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [this] { return m_subscribed; });
}

void MqttSubscriber::stop()
{
    if (!m_mosq)
        return;
    if (m_running) {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        m_running = false;
    }
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

QVector<MqttSubscriber::Message> MqttSubscriber::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

int MqttSubscriber::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

int MqttSubscriber::count(const QString& topic) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Message& message : m_messages)
        n += message.topic == topic ? 1 : 0;
    return n;
}

void MqttSubscriber::onConnect(mosquitto* mosq, void* self, int rc)
{
    // Again after each reconnect: a broker without persistence forgot the subscription.
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, static_cast<MqttSubscriber*>(self)->m_filter.constData(),
                            1);
}

void MqttSubscriber::onSubscribe(mosquitto*, void* self, int, int, const int*)
{
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    std::lock_guard<std::mutex> lock(subscriber->m_mutex);
    subscriber->m_subscribed = true;
    subscriber->m_subscribedChanged.notify_all();
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* subscriber = static_cast<MqttSubscriber*>(self);
    Message m;
    m.topic = QString::fromUtf8(message->topic);
    m.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    m.retained = message->retain;
    std::lock_guard<std::mutex> lock(subscriber->m_mutex);
    subscriber->m_messages.append(m);
}
