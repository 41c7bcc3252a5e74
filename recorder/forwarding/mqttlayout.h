#pragma once

#include <QByteArray>
#include <QString>

struct ForwardSample;
struct ForwardAlarmChange;

// Where and how the records appear on a broker:
//   <prefix>/<serial>/<channel>   each sample (channel 1 or 2), JSON: time, value, node,
//                                 channel (its name), unit
//   <prefix>/<serial>/alarm       each alarm event and every change of it, JSON
//   <prefix>/status               "online" (retained) while connected, "offline" (retained,
//                                 also as the last will) after
// A serial is one topic level: '/', '+', '#', '%' and a leading '$' in it are written as %XX.
class MqttLayout
{
public:
    // The prefix without trailing '/'; empty when no prefix is set.
    static QString normalisedPrefix(const QString& prefix);
    // Why a prefix cannot be used (wildcards, NUL), or empty text when it can.
    static QString prefixProblem(const QString& prefix);
    static QString topicLevel(const QString& text);

    static QString sampleTopic(const QString& prefix, const QString& serial, int channel);
    static QString alarmTopic(const QString& prefix, const QString& serial);
    static QString statusTopic(const QString& prefix);

    static QByteArray samplePayload(const ForwardSample& sample);
    static QByteArray alarmPayload(const ForwardAlarmChange& change);

    static QByteArray online() { return QByteArrayLiteral("online"); }
    static QByteArray offline() { return QByteArrayLiteral("offline"); }
};
