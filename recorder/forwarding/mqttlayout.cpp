#include "mqttlayout.h"

#include "forwardrecords.h"

#include <QJsonDocument>
#include <QJsonObject>

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
    return QString();
}

QString MqttLayout::topicLevel(const QString& text)
{
    QString level;
    level.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool special = c == QLatin1Char('/') || c == QLatin1Char('+') ||
                             c == QLatin1Char('#') || c == QLatin1Char('%') || c == QChar(0) ||
                             (i == 0 && c == QLatin1Char('$'));
        if (special)
            level += QLatin1Char('%') +
                     QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            level += c;
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
