#pragma once

#include "alarmeventrecord.h"
#include "alarmrules.h"
#include "alarmsuppression.h"
#include "notificationevent.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

#include <functional>

class AlarmEventStore;
struct AlarmEventWrite;

// What the monitor knows of one node: names for the messages, the ranges (as the node keeps
// them) and the alarm rules.
struct MonitoredNode
{
    QString serial;
    QString nodeName;
    QString channelName[2];
    QString unit[2];
    float min[2] = {0, 0};
    float max[2] = {0, 0};
    NodeAlarmRules rules;

    bool operator==(const MonitoredNode& other) const;
    bool operator!=(const MonitoredNode& other) const { return !(*this == other); }
};

// Turns the samples of the open project's nodes into alarm events. Two states are kept apart:
// "out of range" is the node's own flag, immediate, and colours tiles and charts; an alarm is a
// channel out of range for longer than its delay (with a delay of 0 the two coincide), and ends
// once a value is back inside the range by the deadband (both judged by RangeRule). Per node, "no data" starts after the
// configured minutes without a valid sample, and "battery low" while the reported battery level
// lies below its threshold (it clears BatteryClearMargin points above it). A node that stops
// answering ends its range alarms as "no data".
//
// Every raised alarm is an event with an id of its own: its start, its extreme, its end and its
// acknowledgement go to the event store and come out as signals, from which the notifications
// are made. The alarm sound plays while an active alarm is not acknowledged; an acknowledgement
// silences that alarm until it ends and a new one starts.
//
// After a restart, an alarm raised for a condition that held from the node's first sample and
// whose node and channel last had an event of the same kind that ended with the recorder's stop
// continues that event: the new record names it (AlarmEventRecord::continues).
//
// Shelves and out-of-service times (AlarmSuppression) hold on the monitor's clock. A shelved
// channel's excursions are raised and recorded as usual, but its events do not sound (they are
// not in soundWanted()) and are not alarming (isAlarming(): no notification, no reminder); a
// node out of service (for a time, or each day in its rules' daily window) raises none of its
// alarms, and a condition that still holds when it is back counts its delay from then. Once a
// suppression is over (its time, or ended early) an event still active sounds again and is
// told by alarmUnsuppressed(), from which its notification is made then.
//
// Time: samples carry their own times (what the events record); delays and "no data" are
// measured on the monitor's clock, which tests replace, at each sample and at each tick().
class AlarmMonitor : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // Battery points above the threshold at which a battery alarm clears: a level that wavers
    // at the threshold does not start an event at every sample.
    static constexpr int BatteryClearMargin = 5;
    // A new extreme goes to the store at most this often while the alarm lasts (and with its
    // end); the nodes' latest sample times as well.
    static constexpr int NoteIntervalSeconds = 60;

    // `store` may be null: nothing is written then.
    explicit AlarmMonitor(AlarmEventStore* store = nullptr, QObject* parent = nullptr);
    ~AlarmMonitor() override;

    void setClock(const Clock& clock);
    // The monitor's clock now.
    QDateTime now() const;
    void setProjectName(const QString& name) { projectName = name; }

    // Adds a node, or changes one: with new ranges or rules its alarms are judged again at once
    // from its latest values. "No data" counts from the moment a node is added.
    void setNode(const MonitoredNode& node);

    // One sample of a node: channel values (NoValue where there is none), the battery level (-1
    // where the model reports none) and the sample's time.
    void sample(const QString& serial, double value1, double value2, int battery,
                const QDateTime& time);
    // The node's gateway stopped answering.
    void disconnected(const QString& serial);
    // Every second: delays that have passed, nodes silent for too long, what is due for the store.
    void tick();
    // The end of monitoring (the project closes or is edited, the program ends): every active
    // alarm ends now as "recorder stopped"; excursions shorter than their delay leave nothing.
    void stop();

    // Records who acknowledged which event, the free-text comment and the corrective action
    // (none: an acknowledgement without one); for an event that ended already too. False for an
    // id unknown to an active alarm and not written before (no store), or without a name.
    bool acknowledge(qint64 eventId, const QString& by, const QString& comment,
                     const CorrectiveAction& action = CorrectiveAction());

    // The acknowledgement of an active event was signed: its record shows the signature
    // (ElectronicSignature::manifestation()); alarmUpdated() tells.
    void setSignature(qint64 eventId, const QString& manifestation);

    QVector<AlarmEventRecord> activeAlarms() const;
    int activeCount() const { return int(active.size()); }
    int unacknowledgedCount() const;
    // The event is active and nobody acknowledged it: its reminders are still worth sending.
    bool isAlarming(qint64 eventId) const;
    // The events the recorder's last run left open (it died), which this start ends as "recorder
    // stopped", and whose end message was never made; none without a store.
    QVector<AlarmEventRecord> interruptedEvents() const;
    // The sound plays while this holds: an active event nobody acknowledged and not shelved.
    bool soundWanted() const;

    // A shelve or out-of-service time begins (or one read at the start holds still); an id
    // known already replaces the one held.
    void addSuppression(const AlarmSuppression& suppression);
    // Ends one early, now; false for an id that holds no more.
    bool endSuppression(qint64 id);
    // Those holding now.
    QVector<AlarmSuppression> suppressions() const;
    // What keeps the event quiet now (an active one), or kept it quiet when it was raised:
    // none when nothing did. A node's daily window comes as an out-of-service time of id 0.
    std::optional<AlarmSuppression> suppressionOf(const AlarmEventRecord& record) const;
    // The node raises no alarm now (out of service for a time, or in its daily window).
    bool isOutOfService(const QString& serial) const;
    // A node's names as the monitor knows them; empty for an unknown serial.
    MonitoredNode node(const QString& serial) const { return nodes.value(serial).config; }

    // The fields a notification about an event needs.
    NotificationEvent notificationEvent(const AlarmEventRecord& record,
                                        NotificationKind kind) const;

signals:
    // The delay passed: a new event.
    void alarmStarted(const AlarmEventRecord& record);
    // The extreme moved on (at most once per NoteIntervalSeconds).
    void alarmUpdated(const AlarmEventRecord& record);
    void alarmEnded(const AlarmEventRecord& record);
    // The whole record of an active alarm; of one that ended, its id and the acknowledgement.
    void alarmAcknowledged(const AlarmEventRecord& record);
    void countsChanged(int active, int unacknowledged);
    // A suppression began, ended or ran out.
    void suppressionsChanged();
    // A suppression's time is over (not ended early).
    void suppressionExpired(const AlarmSuppression& suppression);
    // An event still active is quiet no more: it sounds and notifies from now on.
    void alarmUnsuppressed(const AlarmEventRecord& record);

private:
    // A condition that holds (a channel beyond its range, a silent node, a low battery) and,
    // once it lasted its delay, the event it raised.
    struct Condition
    {
        bool present = false;
        AlarmKind kind = AlarmKind::High;
        double limit = 0;
        qint64 start = 0; // sample time, seconds
        QDateTime since;  // on the monitor's clock: the delay counts from here
        double extreme = 0;
        qint64 extremeTime = 0;
        qint64 eventId = 0; // 0 until raised
        QDateTime extremeNoted;
        bool extremeDirty = false;
    };
    struct NodeState
    {
        MonitoredNode config;
        Condition channel[2];
        double lastValue[2];
        qint64 lastTime = 0; // the latest sample's time
        QDateTime lastValidClock;
        qint64 lastValidTime = 0;
        int lastBattery = -1;
        qint64 firstSampleTime = 0; // this run's first sample of the node
        bool validSeen = false;     // a valid value came in this run
        Condition noData;
        Condition battery;
        bool seenDirty = false;
    };

    void judgeChannel(NodeState& node, int c, double value, qint64 time, qint64 endTime);
    void judgeBattery(NodeState& node, qint64 time, qint64 endTime);
    void begin(Condition& condition, AlarmKind kind, double limit, double value, qint64 time);
    void raiseIfDue(NodeState& node, int channel, Condition& condition, int delayMinutes);
    void end(Condition& condition, qint64 time, AlarmEnd how);
    void moveExtreme(Condition& condition, double value, qint64 time);
    void noteExtreme(Condition& condition, bool force);
    void noteLastSamples(bool force);
    qint64 newEventId();
    // The event a stopped recorder left for this node, channel and kind, when the condition
    // held from the node's first sample of this run; taken once. 0 for none.
    qint64 continuedEvent(const NodeState& node, int channel, const Condition& condition);
    void submit(const AlarmEventWrite& write);
    void countsMayHaveChanged();
    bool isSuppressedNow(const AlarmEventRecord& record) const;
    std::optional<AlarmSuppression> holdingFor(const QString& serial, int channel,
                                               qint64 at) const;
    // Events that are quiet no more are told; suppressions over are let go.
    void reviewSuppressions();

    AlarmEventStore* store = nullptr;
    Clock clock;
    QString projectName;
    QHash<QString, NodeState> nodes;
    QHash<qint64, AlarmEventRecord> active;
    qint64 nextId = 0;
    bool stoppedRead = false;
    // "serial/channel/kind" to the event id.
    QHash<QString, qint64> stoppedBefore;
    QDateTime lastSamplesNoted;
    bool stopped = false;
    int reportedActive = 0;
    int reportedUnacknowledged = 0;
    // Every suppression known this run, by id (those over are kept for suppressionOf()).
    QHash<qint64, AlarmSuppression> known;
    // Active events quiet at the last review.
    QSet<qint64> quiet;
    // Suppressions holding at the last review.
    QSet<qint64> holding;
};
