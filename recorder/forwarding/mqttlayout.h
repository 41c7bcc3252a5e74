#pragma once

#include <QByteArray>
#include <QString>

struct ForwardSample;
struct ForwardAlarmChange;
struct ForwardAuditHead;
struct ForwardAlarmTest;

// Where and how the records appear on a broker:
//   <prefix>/<serial>/<channel>   each sample (channel 1 or 2), JSON: time, value, node,
//                                 channel (its name), unit
//   <prefix>/<serial>/alarm       each alarm event and every change of it, JSON
//   <prefix>/audit/head           the audit trail's newest head (retained), JSON: sequence, hash,
//                                 time (ISO 8601, local time with its offset); no serial's
//                                 topics end in "head"
//   <prefix>/alarmtest/<serial>/test   an alarm test of one node, JSON with "test": true (never
//   <prefix>/alarmtest/test            an alarm event); the second for a test of all nodes. A
//                                 serial's own topics end in 1, 2 or "alarm", never in "test"
//   <prefix>/status               "online" (retained) while connected, "offline" (retained,
//                                 also as the last will) after
// A serial is one topic level: '/', '+', '#', '%', a leading '$', control characters (U+0000-
// U+001F, U+007F-U+009F) and Unicode noncharacters in it are written as the %XX of their UTF-8
// bytes, so that the broker never refuses a topic for its serial and two serials never share a
// topic.
class MqttLayout
{
public:
    // The prefix without trailing '/'; empty when no prefix is set.
    static QString normalisedPrefix(const QString& prefix);
    // Why a prefix cannot be used (wildcards, NUL, what libmosquitto refuses in a topic), or
    // empty text when it can.
    static QString prefixProblem(const QString& prefix);
    static QString topicLevel(const QString& text);
    // Whether a character (a code point) is written as %XX in a topic level wherever it stands.
    static bool isEncoded(uint code);

    static QString sampleTopic(const QString& prefix, const QString& serial, int channel);
    static QString alarmTopic(const QString& prefix, const QString& serial);
    static QString statusTopic(const QString& prefix);
    static QString auditHeadTopic(const QString& prefix);
    // An empty serial: a test of all nodes.
    static QString alarmTestTopic(const QString& prefix, const QString& serial);

    static QByteArray samplePayload(const ForwardSample& sample);
    static QByteArray alarmPayload(const ForwardAlarmChange& change);
    static QByteArray auditHeadPayload(const ForwardAuditHead& head);
    static QByteArray alarmTestPayload(const ForwardAlarmTest& test);

    static QByteArray online() { return QByteArrayLiteral("online"); }
    static QByteArray offline() { return QByteArrayLiteral("offline"); }
};
