#pragma once

#include "forwardingsettings.h"
#include "forwardrecords.h"
#include "forwardstatus.h"
#include "forwardtiming.h"

#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

class DatabaseWriter;
class ForwarderWorker;
class QThread;

// Where one target of the forwarder stands, as the dialog and the status bar show it.
struct ForwarderTargetState
{
    QString key;  // "mqtt" or "influx"
    QString name; // "MQTT" or "InfluxDB"
    ForwardStatus status;
    qint64 position = 0;       // the last row id that went out in full
    qint64 backlogSamples = 0; // values stored and not yet acknowledged
    qint64 backlogSeconds = 0; // how old the oldest of them is
    int historyPercent = -1;   // while history is sent, how much of it went out; -1 otherwise

    bool operator==(const ForwarderTargetState& other) const;
    bool operator!=(const ForwarderTargetState& other) const { return !(*this == other); }
};

struct ForwarderOptions
{
    ForwardTiming timing;
    int batchRows = 2000;  // rows read at once
    int aheadRows = 6000;  // rows handed to a target and not yet acknowledged, at most
    int pollMs = 1000;     // how often new rows are looked for
    int positionMs = 1000; // how often a cursor that moved is written
    int statusMs = 1000;   // how often the backlog is counted
};

// Forwards what the project's database holds to the targets switched on in its settings. It
// reads the file on a thread and a read-only connection of its own, from a cursor per target
// (the last row id that went out in full, kept in the database's state table), in id order and
// in batches, and advances the cursor only past what the target acknowledged; the cursor goes
// into the database through the recorder's one writer. Alarm events follow from their change
// marks with a cursor of their own, so that acknowledgements and ends made later go out too.
// A target seen for the first time (another host, port, database or prefix) starts at the newest
// row: older rows go out only when asked for (sendHistoryFrom). Nothing here waits on a target or
// the file: the owner's thread only queues calls and takes the states that come back.
class Forwarder : public QObject
{
    Q_OBJECT

public:
    // `writer` (the project's, open) must outlive the forwarder. Passwords are used where the
    // settings name a user.
    Forwarder(const QString& databasePath, const ForwardingSettings& settings,
              const QString& mqttPassword, const QString& influxPassword, DatabaseWriter* writer,
              const ForwarderOptions& options = ForwarderOptions(), QObject* parent = nullptr);
    // Stops the targets (they keep nothing: the cursor is in the database) and writes the last
    // positions through the writer.
    ~Forwarder() override;

    // Names and units by serial number, as sent with each sample.
    void setLabels(const QHash<QString, NodeLabels>& labels);
    // Every target goes back to the first row recorded at or after `time` (Unix seconds) and
    // the first alarm event lasting into it, and sends from there; progress in the states.
    void sendHistoryFrom(qint64 time);
    // An alarm test through every target, marked as a test (see MqttLayout, LineProtocol); each
    // answers with alarmTestAnswered() once its server took or refused it. A target that is
    // down keeps it and sends it when it is back (it then says so, late): the caller bounds the
    // wait.
    void sendAlarmTest(const ForwardAlarmTest& test);

    const QVector<ForwarderTargetState>& states() const { return m_states; }
    // A target as its cursors know it: its kind, host, port and database or topic prefix, so that
    // a target pointed elsewhere starts afresh (at the newest row) rather than carrying on from
    // where another server was left.
    static QString targetIdentity(const MqttForwarding& settings);
    static QString targetIdentity(const InfluxForwarding& settings);
    // Database cursor names of a target's rows and its alarm events.
    static QString rowCursorName(const QString& identity) { return identity; }
    static QString alarmCursorName(const QString& identity)
    {
        return identity + QStringLiteral(" alarms");
    }
    // The cursors' names before they named their target ("mqtt", "influx"): such a cursor belongs
    // to the target the project names when it is first read, which takes it over.
    static QString legacyRowCursorName(const QString& key) { return key; }
    static QString legacyAlarmCursorName(const QString& key)
    {
        return key + QStringLiteral(" alarms");
    }

signals:
    void statesChanged();
    // `key` as in ForwarderTargetState; `text` the server's refusal.
    void alarmTestAnswered(const QString& key, qint64 testId, bool accepted, const QString& text);

private:
    void savePosition(const QString& name, qint64 position);

    DatabaseWriter* m_writer;
    QThread* m_thread = nullptr;
    ForwarderWorker* m_worker = nullptr;
    QVector<ForwarderTargetState> m_states;
    QHash<QString, qint64> m_saved;
};

Q_DECLARE_METATYPE(ForwarderTargetState)
Q_DECLARE_METATYPE(QVector<ForwarderTargetState>)
