#include "forwarderworker.h"

#include "influxtarget.h"
#include "mqtttarget.h"
#include "writejob.h"

#include <QDateTime>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Alarm changes read at once; there are few of them.
constexpr int AlarmBatch = 500;
// Beyond this many rows of backlog the values are estimated from the ids (two per row) instead
// of counted, so that the count each second stays short however far back history goes.
constexpr qint64 CountedRows = 200000;

ForwardAlarmChange alarmChange(const AlarmEventRecord& r, const NodeLabels* labels)
{
    ForwardAlarmChange c;
    c.eventId = r.id;
    c.changeMark = r.changeMark;
    c.serial = r.serial;
    c.channel = r.channel;
    c.kind = r.kind;
    c.limit = r.limit;
    c.start = r.start;
    c.extremeValue = r.extremeValue;
    c.extremeTime = r.extremeTime;
    c.end = r.end;
    c.ended = r.ended;
    c.acknowledgedAt = r.acknowledgedAt;
    c.acknowledgedBy = r.acknowledgedBy;
    c.comment = r.comment;
    if (labels) {
        c.nodeName = labels->nodeName;
        if (r.channel == 1 || r.channel == 2) {
            c.channelName = labels->channelName[size_t(r.channel - 1)];
            c.unit = labels->unit[size_t(r.channel - 1)];
        }
    }
    return c;
}

} // namespace

ForwarderWorker::ForwarderWorker(const QString& databasePath, const ForwardingSettings& settings,
                                 const QString& mqttPassword, const QString& influxPassword,
                                 const ForwarderOptions& options)
    : m_databasePath(databasePath), m_settings(settings), m_mqttPassword(mqttPassword),
      m_influxPassword(influxPassword), m_options(options)
{
}

ForwarderWorker::~ForwarderWorker() = default;

void ForwarderWorker::start()
{
    const auto add = [this](const QString& key, const QString& name, const QString& identity,
                            ForwardTarget* target) {
        auto stream = std::make_unique<Stream>();
        stream->state.key = key;
        stream->state.name = name;
        stream->rowCursor = Forwarder::rowCursorName(identity);
        stream->alarmCursor = Forwarder::alarmCursorName(identity);
        stream->target.reset(target);
        Stream* s = stream.get();
        connect(target, &ForwardTarget::acknowledged, this,
                [this, s](const ForwardAck& ack) { acknowledged(*s, ack); });
        connect(target, &ForwardTarget::statusChanged, this, [this, s](const ForwardStatus& st) {
            s->state.status = st;
            publish();
        });
        m_streams.push_back(std::move(stream));
    };
    if (m_settings.mqtt.enabled)
        add(QStringLiteral("mqtt"), QStringLiteral("MQTT"),
            Forwarder::targetIdentity(m_settings.mqtt),
            new MqttTarget(m_settings.mqtt, m_mqttPassword, m_options.timing));
    if (m_settings.influx.enabled)
        add(QStringLiteral("influx"), QStringLiteral("InfluxDB"),
            Forwarder::targetIdentity(m_settings.influx),
            new InfluxTarget(m_settings.influx, m_influxPassword, m_options.timing));

    m_pollTimer = new QTimer(this);
    connect(m_pollTimer, &QTimer::timeout, this, &ForwarderWorker::pump);
    m_pollTimer->start(m_options.pollMs);
    m_positionTimer = new QTimer(this);
    connect(m_positionTimer, &QTimer::timeout, this, &ForwarderWorker::savePositions);
    m_positionTimer->start(m_options.positionMs);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, [this] {
        countBacklog();
        publish();
    });
    m_statusTimer->start(m_options.statusMs);
    pump();
    countBacklog();
    publish();
}

void ForwarderWorker::setLabels(const QHash<QString, NodeLabels>& labels)
{
    m_labels = labels;
}

// The cursors from the database; a target without one starts at the newest row and event, and
// that start is written at once, so that a restart does not move it on past rows not sent. A
// cursor of the kind's old name (written before cursors named their target) is taken over by the
// target configured now, once: it is marked taken (-1), so that a target configured later starts
// afresh.
bool ForwarderWorker::place()
{
    if (m_placed)
        return true;
    if (!m_reader.isOpen() && !m_reader.open(m_databasePath))
        return false;
    if (!m_reader.hasTable())
        return false;
    const qint64 newestRow = m_reader.maxId();
    const qint64 newestMark = m_reader.lastAlarmChangeMark();
    if (newestRow < 0 || newestMark < 0)
        return false;
    const auto cursor = [this](const QString& name, const QString& legacy, qint64 newest) {
        qint64 value = -1;
        if (m_reader.stateValue(WriteJob::forwardPositionName(name), &value) && value >= 0)
            return value;
        qint64 old = -1;
        if (m_reader.stateValue(WriteJob::forwardPositionName(legacy), &old) && old >= 0) {
            value = old;
            emit positionReached(legacy, -1);
        } else {
            value = newest;
        }
        emit positionReached(name, value);
        return value;
    };
    for (auto& s : m_streams) {
        const qint64 row =
            cursor(s->rowCursor, Forwarder::legacyRowCursorName(s->state.key), newestRow);
        const qint64 mark =
            cursor(s->alarmCursor, Forwarder::legacyAlarmCursorName(s->state.key), newestMark);
        m_saved.insert(s->rowCursor, row);
        m_saved.insert(s->alarmCursor, mark);
        s->rows = ForwardCursor(row);
        s->alarms = ForwardCursor(mark);
        s->state.position = row;
    }
    m_placed = true;
    return true;
}

void ForwarderWorker::pump()
{
    m_pumpQueued = false;
    if (!place())
        return;
    // One look at the head per round for every target. A file without an audit trail has no
    // head to send; one that cannot be read now is asked again next round.
    std::optional<AuditEntry> head;
    if (!m_streams.empty() && !m_reader.auditHead(&head))
        head.reset();
    for (auto& s : m_streams) {
        pumpRows(*s);
        pumpAlarms(*s);
        pumpAuditHead(*s, head);
    }
}

void ForwarderWorker::pumpRows(Stream& stream)
{
    if (stream.rows.outstanding() >= m_options.aheadRows)
        return;
    ForwardBatch batch;
    int read = 0;
    const bool ok = m_reader.rowsAfter(
        stream.rows.lastExpected(), m_options.batchRows, [&](const StoredRow& r) {
            StoredSampleRow row;
            row.id = r.id;
            row.serial = QString::fromUtf8(r.serial, r.serialLength);
            if (r.present[0])
                row.channel1 = r.value[0];
            if (r.present[1])
                row.channel2 = r.value[1];
            row.pointDate = r.time;
            const auto label = m_labels.constFind(row.serial);
            const bool beforeHistory =
                stream.historyFrom >= 0 && r.id <= stream.historyTo && r.time < stream.historyTime;
            const QVector<ForwardSample> samples =
                beforeHistory
                    ? QVector<ForwardSample>()
                    : forwardedSamples(row, label != m_labels.constEnd() ? *label : NodeLabels());
            stream.rows.expectRow(r.id, samples);
            batch.samples += samples;
            ++read;
            return true;
        });
    if (!batch.isEmpty())
        stream.target->send(batch);
    stream.state.position = stream.rows.position();
    // More is there: read on soon, without waiting for the next poll.
    if (ok && read == m_options.batchRows && !m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &ForwarderWorker::pump);
    }
}

void ForwarderWorker::pumpAlarms(Stream& stream)
{
    if (stream.alarms.outstanding() >= AlarmBatch * 2)
        return;
    QVector<AlarmEventRecord> changes;
    if (!m_reader.alarmChangesSince(stream.alarms.lastExpected(), AlarmBatch, &changes))
        return;
    ForwardBatch batch;
    for (const AlarmEventRecord& r : qAsConst(changes)) {
        const auto label = m_labels.constFind(r.serial);
        if (stream.alarms.expect(r.changeMark, {0}))
            batch.alarmChanges.append(
                alarmChange(r, label != m_labels.constEnd() ? &*label : nullptr));
    }
    if (!batch.isEmpty())
        stream.target->send(batch);
}

// Each head covers every entry before it, so only the newest one waiting needs to go: while a
// head is on its way (or waits in the target for the server to come back) later ones are not
// queued behind it; once the target took it, the head of that moment follows. Nothing a head
// witnesses is lost by skipping those in between. A head that differs in any way from the one
// taken goes out, even a lower one (a shortened chain), so that the witness sees it. The head
// taken is not kept in the file: after a start the current head goes out once more.
void ForwarderWorker::pumpAuditHead(Stream& stream, const std::optional<AuditEntry>& head)
{
    if (!head || stream.headSending)
        return;
    if (stream.headTaken && head->sequence == stream.headTaken->sequence &&
        head->hash == stream.headTaken->hash)
        return;
    stream.headSending = ForwardAuditHead{head->sequence, head->hash, head->timeMs};
    ForwardBatch batch;
    batch.auditHead = stream.headSending;
    stream.target->send(batch);
}

void ForwarderWorker::sendAlarmTest(const ForwardAlarmTest& test)
{
    ForwardBatch batch;
    batch.alarmTest = test;
    for (auto& s : m_streams)
        s->target->send(batch);
}

void ForwarderWorker::acknowledged(Stream& stream, const ForwardAck& ack)
{
    for (const qint64 id : ack.alarmTests)
        emit alarmTestAnswered(stream.state.key, id, true, QString());
    for (const qint64 id : ack.alarmTestsRefused)
        emit alarmTestAnswered(stream.state.key, id, false, ack.alarmTestRefusal);
    if (ack.auditHead && stream.headSending && *ack.auditHead == stream.headSending->sequence) {
        stream.headTaken = stream.headSending;
        stream.headSending.reset();
    }
    stream.rows.acknowledgeSamples(ack.samples);
    stream.alarms.acknowledgeAlarmChanges(ack.alarmChanges);
    stream.state.position = stream.rows.position();
    updateHistory(stream);
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &ForwarderWorker::pump);
    }
}

void ForwarderWorker::sendHistoryFrom(qint64 time)
{
    if (!place())
        return;
    const qint64 firstId = m_reader.firstIdFrom(time);
    const qint64 firstMark = m_reader.firstAlarmChangeMarkFrom(time);
    const qint64 newest = m_reader.maxId();
    for (auto& s : m_streams) {
        if (firstId > 0 && firstId - 1 < s->rows.position()) {
            s->historyFrom = firstId - 1;
            s->historyTo = std::max(newest, s->rows.lastExpected());
            s->historyTime = time;
            // What is in flight and acknowledged later still counts once it is read again.
            s->rows = ForwardCursor(firstId - 1);
            s->state.position = s->rows.position();
            s->state.historyPercent = 0;
        }
        if (firstMark > 0 && firstMark - 1 < s->alarms.position())
            s->alarms = ForwardCursor(firstMark - 1);
    }
    savePositions();
    pump();
    countBacklog();
    publish();
}

void ForwarderWorker::updateHistory(Stream& stream)
{
    if (stream.historyFrom < 0)
        return;
    const qint64 done = stream.rows.position() - stream.historyFrom;
    const qint64 all = stream.historyTo - stream.historyFrom;
    if (done >= all) {
        stream.historyFrom = -1;
        stream.state.historyPercent = -1;
        return;
    }
    stream.state.historyPercent = int(done * 100 / std::max<qint64>(all, 1));
}

void ForwarderWorker::savePositions()
{
    for (auto& s : m_streams) {
        const std::pair<QString, qint64> cursors[] = {{s->rowCursor, s->rows.position()},
                                                      {s->alarmCursor, s->alarms.position()}};
        for (const auto& [name, position] : cursors) {
            if (m_saved.value(name, -1) == position)
                continue;
            m_saved.insert(name, position);
            emit positionReached(name, position);
        }
    }
}

void ForwarderWorker::countBacklog()
{
    if (!m_placed)
        return;
    const qint64 newest = m_reader.maxId();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (auto& s : m_streams) {
        const qint64 position = s->rows.position();
        qint64 count = 0;
        qint64 earliest = 0;
        if (newest - position > CountedRows) {
            count = (newest - position) * 2;
            m_reader.rowsAfter(position, 1, [&](const StoredRow& r) {
                earliest = r.time;
                return false;
            });
        } else if (newest > position) {
            m_reader.valuesAfter(position, &count, &earliest);
        }
        s->state.backlogSamples = count;
        s->state.backlogSeconds = count > 0 ? std::max<qint64>(now - earliest, 0) : 0;
    }
}

void ForwarderWorker::publish()
{
    QVector<ForwarderTargetState> states;
    for (const auto& s : m_streams)
        states.append(s->state);
    emit statesChanged(states);
}

void ForwarderWorker::stop()
{
    for (QTimer* t : {m_pollTimer, m_positionTimer, m_statusTimer})
        if (t)
            t->stop();
    for (auto& s : m_streams) {
        if (!m_placed)
            break;
        finalPositions.insert(s->rowCursor, s->rows.position());
        finalPositions.insert(s->alarmCursor, s->alarms.position());
    }
    m_streams.clear();
    m_reader.close();
    thread()->quit();
}
