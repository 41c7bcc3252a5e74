#include "mqttlayout.h"

#include "forwardrecords.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>

namespace {

QString join(const QString& prefix, const QString& rest)
{
    const QString p = MqttLayout::normalisedPrefix(prefix);
    return p.isEmpty() ? rest : p + QLatin1Char('/') + rest;
}

template <typename T> QJsonValue optionalValue(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString MqttLayout::normalisedPrefix(const QString& prefix)
{
    QString p = prefix.trimmed();
    while (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

QString MqttLayout::prefixProblem(const QString& prefix)
{
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return QStringLiteral("The topic prefix must not contain '+' or '#'.");
    if (prefix.contains(QChar(0)))
        return QStringLiteral("The topic prefix must not contain a NUL character.");
    // The library's own checks, on the topic the prefix is used in the most.
    const QByteArray topic = statusTopic(prefix).toUtf8();
    if (mosquitto_validate_utf8(topic.constData(), topic.size()) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("The topic prefix must not contain control characters or Unicode "
                              "noncharacters.");
    if (mosquitto_pub_topic_check2(topic.constData(), size_t(topic.size())) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("The topic prefix is not a topic the broker can take (longer than "
                              "65,535 bytes?).");
    return QString();
}

bool MqttLayout::isEncoded(uint code)
{
    // What libmosquitto refuses in a topic (mosquitto_validate_utf8), and what would change
    // the levels or subscriptions.
    return code == '/' || code == '+' || code == '#' || code == '%' || code <= 0x1F ||
           (code >= 0x7F && code <= 0x9F) || (code >= 0xFDD0 && code <= 0xFDEF) ||
           (code & 0xFFFE) == 0xFFFE || (code >= 0xD800 && code <= 0xDFFF);
}

QString MqttLayout::topicLevel(const QString& text)
{
    QString level;
    level.reserve(text.size());
    const QVector<uint> codes = text.toUcs4();
    for (int i = 0; i < codes.size(); ++i) {
        const uint code = codes.at(i);
        if (isEncoded(code) || (i == 0 && code == '$')) {
            // Percent-encoded UTF-8, as in a URL: one-to-one, since '%' itself is encoded.
            const QByteArray bytes = QString::fromUcs4(&code, 1).toUtf8();
            for (const char byte : bytes)
                level +=
                    QLatin1Char('%') +
                    QString::number(uchar(byte), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            level += QString::fromUcs4(&code, 1);
        }
    }
    return level;
}

QString MqttLayout::sampleTopic(const QString& prefix, const QString& serial, int channel)
{
    return join(prefix, topicLevel(serial) + QLatin1Char('/') + QString::number(channel));
}

QString MqttLayout::alarmTopic(const QString& prefix, const QString& serial)
{
    return join(prefix, topicLevel(serial) + QStringLiteral("/alarm"));
}

QString MqttLayout::statusTopic(const QString& prefix)
{
    return join(prefix, QStringLiteral("status"));
}

QString MqttLayout::auditHeadTopic(const QString& prefix)
{
    return join(prefix, QStringLiteral("audit/head"));
}

QString MqttLayout::alarmTestTopic(const QString& prefix, const QString& serial)
{
    return join(prefix, serial.isEmpty() ? QStringLiteral("alarmtest/test")
                                         : QStringLiteral("alarmtest/") + topicLevel(serial) +
                                               QStringLiteral("/test"));
}

QByteArray MqttLayout::alarmTestPayload(const ForwardAlarmTest& test)
{
    QJsonObject o;
    o.insert(QStringLiteral("test"), true);
    o.insert(QStringLiteral("testId"), test.testId);
    o.insert(QStringLiteral("time"), test.time);
    o.insert(QStringLiteral("project"), test.project);
    o.insert(QStringLiteral("node"), test.nodeName);
    o.insert(QStringLiteral("serial"), test.serial);
    o.insert(QStringLiteral("user"), test.user);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray MqttLayout::samplePayload(const ForwardSample& sample)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), sample.time);
    o.insert(QStringLiteral("value"), sample.value);
    o.insert(QStringLiteral("node"), sample.nodeName);
    o.insert(QStringLiteral("channel"), sample.channelName);
    o.insert(QStringLiteral("unit"), sample.unit);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray MqttLayout::alarmPayload(const ForwardAlarmChange& change)
{
    QJsonObject o;
    o.insert(QStringLiteral("event"), change.eventId);
    o.insert(QStringLiteral("change"), change.changeMark);
    o.insert(QStringLiteral("kind"), alarmKindText(change.kind));
    o.insert(QStringLiteral("node"), change.nodeName);
    if (change.channel > 0) {
        o.insert(QStringLiteral("column"), change.channel);
        o.insert(QStringLiteral("channel"), change.channelName);
    }
    o.insert(QStringLiteral("unit"), change.unit);
    o.insert(QStringLiteral("limit"), optionalValue(change.limit));
    o.insert(QStringLiteral("start"), change.start);
    o.insert(QStringLiteral("extreme"), optionalValue(change.extremeValue));
    o.insert(QStringLiteral("extremeTime"), optionalValue(change.extremeTime));
    o.insert(QStringLiteral("end"), optionalValue(change.end));
    o.insert(QStringLiteral("ended"), alarmEndText(change.ended));
    o.insert(QStringLiteral("acknowledgedAt"), optionalValue(change.acknowledgedAt));
    o.insert(QStringLiteral("acknowledgedBy"), change.acknowledgedBy);
    o.insert(QStringLiteral("comment"), change.comment);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray MqttLayout::auditHeadPayload(const ForwardAuditHead& head)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(head.timeMs);
    QJsonObject o;
    o.insert(QStringLiteral("sequence"), head.sequence);
    o.insert(QStringLiteral("hash"), QString::fromUtf8(head.hash));
    QString time = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    // Qt writes an offset of zero as "Z"; every time here carries its offset as digits.
    if (time.endsWith(QLatin1Char('Z')))
        time.replace(time.size() - 1, 1, QStringLiteral("+00:00"));
    o.insert(QStringLiteral("time"), time);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
