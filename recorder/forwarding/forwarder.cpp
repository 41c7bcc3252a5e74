#include "forwarder.h"

#include "databasewriter.h"
#include "forwarderworker.h"
#include "writejob.h"

#include "mqttlayout.h"

#include <QThread>
#include <QUrl>

bool ForwarderTargetState::operator==(const ForwarderTargetState& other) const
{
    return key == other.key && name == other.name && status == other.status &&
           position == other.position && backlogSamples == other.backlogSamples &&
           backlogSeconds == other.backlogSeconds && historyPercent == other.historyPercent;
}

QString Forwarder::targetIdentity(const MqttForwarding& settings)
{
    // No blank in the encoded prefix: a row cursor's name never ends in " alarms".
    return QStringLiteral("mqtt ") + settings.host.trimmed().toLower() + QLatin1Char(':') +
           QString::number(settings.port) + QLatin1Char(' ') +
           QString::fromLatin1(
               QUrl::toPercentEncoding(MqttLayout::normalisedPrefix(settings.topicPrefix), "/"));
}

QString Forwarder::targetIdentity(const InfluxForwarding& settings)
{
    const QUrl url(settings.url.trimmed());
    const bool https = url.scheme() == QLatin1String("https");
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return QStringLiteral("influx ") + url.scheme() + QStringLiteral("://") + url.host().toLower() +
           QLatin1Char(':') + QString::number(url.port(https ? 443 : 80)) +
           QString::fromLatin1(QUrl::toPercentEncoding(path, "/")) + QLatin1Char(' ') +
           QString::fromLatin1(QUrl::toPercentEncoding(settings.database));
}

Forwarder::Forwarder(const QString& databasePath, const ForwardingSettings& settings,
                     const QString& mqttPassword, const QString& influxPassword,
                     DatabaseWriter* writer, const ForwarderOptions& options, QObject* parent)
    : QObject(parent), m_writer(writer), m_thread(new QThread(this))
{
    registerForwardingTypes();
    qRegisterMetaType<ForwarderTargetState>();
    qRegisterMetaType<QVector<ForwarderTargetState>>();
    m_thread->setObjectName(QStringLiteral("forwarder"));
    m_worker = new ForwarderWorker(databasePath, settings, mqttPassword, influxPassword, options);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &ForwarderWorker::start);
    connect(m_worker, &ForwarderWorker::positionReached, this, &Forwarder::savePosition);
    connect(m_worker, &ForwarderWorker::alarmTestAnswered, this, &Forwarder::alarmTestAnswered);
    connect(m_worker, &ForwarderWorker::statesChanged, this,
            [this](const QVector<ForwarderTargetState>& states) {
                if (states == m_states)
                    return;
                m_states = states;
                emit statesChanged();
            });
    // What the window shows before the thread's first word.
    if (settings.mqtt.enabled)
        m_states.append({QStringLiteral("mqtt"), QStringLiteral("MQTT"), {}, 0, 0, 0, -1});
    if (settings.influx.enabled)
        m_states.append({QStringLiteral("influx"), QStringLiteral("InfluxDB"), {}, 0, 0, 0, -1});
    m_thread->start();
}

Forwarder::~Forwarder()
{
    QMetaObject::invokeMethod(m_worker, &ForwarderWorker::stop, Qt::QueuedConnection);
    m_thread->wait();
    // The thread has ended: its last positions are read here, and the ones not written yet go
    // in order behind everything the writer was given before.
    for (auto it = m_worker->finalPositions.cbegin(); it != m_worker->finalPositions.cend(); ++it)
        savePosition(it.key(), it.value());
    delete m_worker;
}

void Forwarder::setLabels(const QHash<QString, NodeLabels>& labels)
{
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, labels] { w->setLabels(labels); }, Qt::QueuedConnection);
}

void Forwarder::sendHistoryFrom(qint64 time)
{
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, time] { w->sendHistoryFrom(time); }, Qt::QueuedConnection);
}

void Forwarder::sendAlarmTest(const ForwardAlarmTest& test)
{
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, test] { w->sendAlarmTest(test); }, Qt::QueuedConnection);
}

void Forwarder::savePosition(const QString& name, qint64 position)
{
    const auto it = m_saved.constFind(name);
    if (it != m_saved.constEnd() && it.value() == position)
        return;
    m_saved.insert(name, position);
    if (m_writer)
        m_writer->submit(WriteJob::forwardPosition(name, position));
}
