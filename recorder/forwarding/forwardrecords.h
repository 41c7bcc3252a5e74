#pragma once

#include "alarmkind.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <array>
#include <optional>

struct NodeConfig;

// One channel value of one stored sample row, as the targets send it.
struct ForwardSample
{
    qint64 rowId = 0; // the sample table's row id: what the sample cursor counts in
    QString serial;
    int channel = 1; // 1 or 2: the row's column
    double value = 0;
    qint64 time = 0; // Unix seconds
    QString nodeName;
    QString channelName;
    QString unit;
};

// One state of one alarm event: sent when it starts and again after every later change (its
// extreme, the acknowledgement, its end), each time with the change mark it was stored with.
struct ForwardAlarmChange
{
    qint64 eventId = 0;
    qint64 changeMark = 0; // what the event cursor counts in
    QString serial;
    int channel = 0; // 1 or 2; 0 for an alarm of the whole node (no data, battery)
    AlarmKind kind = AlarmKind::High;
    std::optional<double> limit;
    qint64 start = 0; // Unix seconds, as every time below
    std::optional<double> extremeValue;
    std::optional<qint64> extremeTime;
    std::optional<qint64> end;
    AlarmEnd ended = AlarmEnd::Active;
    std::optional<qint64> acknowledgedAt;
    QString acknowledgedBy;
    QString comment;
    QString nodeName;
    QString channelName;
    QString unit;
};

// The newest entry of the project's audit trail: whoever holds the file could rewrite the whole
// chain, so its head is sent out to be witnessed where the file's holder cannot reach.
struct ForwardAuditHead
{
    qint64 sequence = 0;
    QByteArray hash; // 64 hex digits as the file holds them
    qint64 timeMs = 0; // the entry's time, milliseconds since 1970 UTC
};

// An alarm test sent through the target: a message of its own, marked as a test, never an alarm
// event. Sent once; its answer comes back in the acknowledgement (taken or refused).
struct ForwardAlarmTest
{
    qint64 testId = 0;
    QString serial;   // the node tested; empty for all nodes
    QString nodeName; // its name, or "all nodes"
    QString project;
    QString user;    // who ran the test
    qint64 time = 0; // Unix seconds
};

// What a record sent to a target is, for its acknowledgement and for the words of a refusal.
enum class ForwardRecordKind
{
    Sample,
    AlarmChange,
    AuditHead,
    AlarmTest,
};

// "row", "alarm change", "audit trail head".
QString forwardRecordKindText(ForwardRecordKind kind);

// What a caller hands to a target at once. Both samples of one row travel in one batch.
struct ForwardBatch
{
    QVector<ForwardSample> samples;
    QVector<ForwardAlarmChange> alarmChanges;
    std::optional<ForwardAuditHead> auditHead;
    std::optional<ForwardAlarmTest> alarmTest;

    int size() const
    {
        return samples.size() + alarmChanges.size() + (auditHead ? 1 : 0) + (alarmTest ? 1 : 0);
    }
    bool isEmpty() const
    {
        return samples.isEmpty() && alarmChanges.isEmpty() && !auditHead && !alarmTest;
    }
};

struct SampleKey
{
    qint64 rowId = 0;
    int channel = 1;

    bool operator==(const SampleKey& other) const
    {
        return rowId == other.rowId && channel == other.channel;
    }
};

// The records a target's server has taken.
struct ForwardAck
{
    QVector<SampleKey> samples;
    QVector<qint64> alarmChanges; // change marks
    std::optional<qint64> auditHead; // the sequence of the head taken
    // Alarm tests by id: taken by the server, or refused by it for good.
    QVector<qint64> alarmTests;
    QVector<qint64> alarmTestsRefused;
    QString alarmTestRefusal; // the server's words for the refused ones

    int size() const
    {
        return samples.size() + alarmChanges.size() + (auditHead ? 1 : 0) + alarmTests.size() +
               alarmTestsRefused.size();
    }
    bool isEmpty() const { return size() == 0; }
};

// A row as the sample table holds it; a NULL channel is nullopt.
struct StoredSampleRow
{
    qint64 id = 0;
    QString serial;
    std::optional<double> channel1;
    std::optional<double> channel2;
    qint64 pointDate = 0;
};

// What a node and its channels are called at the time of sending, and their units as shown.
struct NodeLabels
{
    QString nodeName;
    std::array<QString, 2> channelName;
    std::array<QString, 2> unit;

    static NodeLabels fromConfig(const NodeConfig& node);
};

// False for NULL, the no-value marker and anything that is not a finite number: none of them is
// a measurement.
bool isForwardedValue(const std::optional<double>& value);

// The samples a stored row is sent as: one per channel holding a value, none for a gap record.
QVector<ForwardSample> forwardedSamples(const StoredSampleRow& row, const NodeLabels& labels);

// Makes the record types known to queued connections; idempotent.
void registerForwardingTypes();

Q_DECLARE_METATYPE(ForwardBatch)
Q_DECLARE_METATYPE(ForwardAck)
