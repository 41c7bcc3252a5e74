#include "alarmmonitor.h"

#include "alarmeventstore.h"
#include "novalue.h"
#include "rangerule.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

double checkedValue(double value)
{
    return std::isfinite(value) ? value : NoValue;
}

} // namespace

bool MonitoredNode::operator==(const MonitoredNode& other) const
{
    return serial == other.serial && nodeName == other.nodeName &&
           channelName[0] == other.channelName[0] && channelName[1] == other.channelName[1] &&
           unit[0] == other.unit[0] && unit[1] == other.unit[1] && min[0] == other.min[0] &&
           min[1] == other.min[1] && max[0] == other.max[0] && max[1] == other.max[1] &&
           rules == other.rules;
}

AlarmMonitor::AlarmMonitor(AlarmEventStore* eventStore, QObject* parent)
    : QObject(parent), store(eventStore), clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

AlarmMonitor::~AlarmMonitor() = default;

void AlarmMonitor::setClock(const Clock& newClock)
{
    clock = newClock;
}

QDateTime AlarmMonitor::now() const
{
    return clock();
}

void AlarmMonitor::setNode(const MonitoredNode& config)
{
    auto it = nodes.find(config.serial);
    if (it == nodes.end()) {
        NodeState state;
        state.config = config;
        state.lastValue[0] = state.lastValue[1] = NoValue;
        state.lastValidClock = now();
        state.lastValidTime = state.lastValidClock.toSecsSinceEpoch();
        nodes.insert(config.serial, state);
        return;
    }
    if (it->config == config)
        return;
    it->config = config;
    if (stopped)
        return;
    // New ranges or rules: the latest values are judged again; what ends now ends at this time.
    const qint64 t = now().toSecsSinceEpoch();
    for (int c = 0; c < 2; ++c)
        judgeChannel(*it, c, it->lastValue[c], it->lastTime, t);
    judgeBattery(*it, it->lastTime, t);
    if (config.rules.noDataMinutes <= 0 && it->noData.present)
        end(it->noData, t, AlarmEnd::Cleared);
    countsMayHaveChanged();
}

void AlarmMonitor::sample(const QString& serial, double value1, double value2, int battery,
                          const QDateTime& time)
{
    auto it = nodes.find(serial);
    if (stopped || it == nodes.end())
        return;
    NodeState& n = *it;
    const qint64 t = time.toSecsSinceEpoch();
    const double values[2] = {checkedValue(value1), checkedValue(value2)};
    n.lastTime = t;
    n.seenDirty = true;
    if (n.firstSampleTime == 0)
        n.firstSampleTime = t;
    if (values[0] != NoValue || values[1] != NoValue) {
        n.validSeen = true;
        n.lastValidClock = now();
        n.lastValidTime = t;
        if (n.noData.present)
            end(n.noData, t, AlarmEnd::Cleared);
    }
    for (int c = 0; c < 2; ++c) {
        n.lastValue[c] = values[c];
        judgeChannel(n, c, values[c], t, t);
    }
    n.lastBattery = battery;
    judgeBattery(n, t, t);
    countsMayHaveChanged();
}

void AlarmMonitor::disconnected(const QString& serial)
{
    auto it = nodes.find(serial);
    if (stopped || it == nodes.end())
        return;
    const qint64 t = now().toSecsSinceEpoch();
    for (int c = 0; c < 2; ++c) {
        it->lastValue[c] = NoValue;
        if (it->channel[c].present)
            end(it->channel[c], t, AlarmEnd::NoData);
    }
    countsMayHaveChanged();
}

void AlarmMonitor::judgeChannel(NodeState& n, int c, double value, qint64 time, qint64 endTime)
{
    Condition& condition = n.channel[c];
    const ChannelAlarmRule& rule = n.config.rules.channel[c];
    const RangeRule range(n.config.min[c], n.config.max[c], rule.deadband);
    // Equal bounds switch the channel's alarm off.
    if (!range.isEnabled()) {
        if (condition.present)
            end(condition, endTime, AlarmEnd::Cleared);
        return;
    }
    if (value == NoValue) {
        if (condition.present)
            end(condition, endTime, AlarmEnd::NoData);
        return;
    }
    // The node's own flag follows the same rule: with a delay of 0 both agree at every sample.
    std::optional<AlarmKind> beyond;
    switch (range.stateOf(value)) {
    case RangeRule::State::High:
        beyond = AlarmKind::High;
        break;
    case RangeRule::State::Low:
        beyond = AlarmKind::Low;
        break;
    case RangeRule::State::Inside:
        break;
    }
    // The limit an event records: as the node keeps it.
    const auto limitOf = [&range](AlarmKind kind) {
        return kind == AlarmKind::High ? range.max() : range.min();
    };

    if (condition.present) {
        if (beyond == condition.kind) {
            moveExtreme(condition, value, time);
        } else {
            const bool withinDeadband =
                !beyond && !range.ends(condition.kind == AlarmKind::High ? RangeRule::State::High
                                                                         : RangeRule::State::Low,
                                       value);
            if (!withinDeadband) {
                end(condition, endTime, AlarmEnd::Cleared);
                if (beyond)
                    begin(condition, *beyond, limitOf(*beyond), value, time);
            }
        }
    } else if (beyond) {
        begin(condition, *beyond, limitOf(*beyond), value, time);
    }
    raiseIfDue(n, c + 1, condition, rule.delayMinutes);
}

void AlarmMonitor::judgeBattery(NodeState& n, qint64 time, qint64 endTime)
{
    Condition& condition = n.battery;
    const int threshold = n.config.rules.batteryLow;
    if (threshold <= 0) {
        if (condition.present)
            end(condition, endTime, AlarmEnd::Cleared);
        return;
    }
    // A model without a battery reading, or a reading not known: nothing changes.
    if (n.lastBattery < 0)
        return;
    if (n.lastBattery < threshold) {
        if (!condition.present)
            begin(condition, AlarmKind::Battery, threshold, n.lastBattery, time);
        else
            moveExtreme(condition, n.lastBattery, time);
    } else if (condition.present && n.lastBattery >= threshold + BatteryClearMargin) {
        end(condition, endTime, AlarmEnd::Cleared);
    }
    raiseIfDue(n, 0, condition, 0);
}

void AlarmMonitor::begin(Condition& condition, AlarmKind kind, double limit, double value,
                         qint64 time)
{
    condition = Condition();
    condition.present = true;
    condition.kind = kind;
    condition.limit = limit;
    condition.start = time;
    condition.since = now();
    condition.extreme = value;
    condition.extremeTime = time;
}

void AlarmMonitor::raiseIfDue(NodeState& n, int channel, Condition& condition, int delayMinutes)
{
    if (!condition.present || condition.eventId != 0 || stopped)
        return;
    const QDateTime at = now();
    // Out of service: nothing is raised, and the delay counts from the end of the time.
    if (isOutOfService(n.config.serial)) {
        condition.since = QDateTime();
        return;
    }
    if (!condition.since.isValid())
        condition.since = at;
    if (at < condition.since.addSecs(qint64(delayMinutes) * 60))
        return;
    AlarmEventRecord r;
    r.id = newEventId();
    r.serial = n.config.serial;
    r.channel = channel;
    r.kind = condition.kind;
    r.start = condition.start;
    r.raised = std::max(at.toSecsSinceEpoch(), condition.start);
    if (condition.kind != AlarmKind::NoData) {
        r.limit = condition.limit;
        r.extremeValue = condition.extreme;
        r.extremeTime = condition.extremeTime;
    }
    if (const qint64 continued = continuedEvent(n, channel, condition))
        r.continues = continued;
    condition.eventId = r.id;
    condition.extremeNoted = at;
    condition.extremeDirty = false;
    active.insert(r.id, r);
    if (isSuppressedNow(r))
        quiet.insert(r.id);
    submit(AlarmEventWrite::insert(r));
    // The node's latest sample goes with it, for the end of an event a crash leaves open.
    n.seenDirty = true;
    emit alarmStarted(r);
}

void AlarmMonitor::end(Condition& condition, qint64 time, AlarmEnd how)
{
    if (condition.eventId != 0) {
        AlarmEventRecord r = active.take(condition.eventId);
        r.end = std::max(time, r.start);
        r.ended = how;
        submit(AlarmEventWrite::close(r.id, *r.end, how, r.extremeValue, r.extremeTime));
        emit alarmEnded(r);
    }
    condition = Condition();
}

void AlarmMonitor::moveExtreme(Condition& condition, double value, qint64 time)
{
    const bool farther =
        condition.kind == AlarmKind::High ? value > condition.extreme : value < condition.extreme;
    if (!farther)
        return;
    condition.extreme = value;
    condition.extremeTime = time;
    if (condition.eventId == 0)
        return;
    AlarmEventRecord& r = active[condition.eventId];
    r.extremeValue = value;
    r.extremeTime = time;
    condition.extremeDirty = true;
    noteExtreme(condition, false);
}

void AlarmMonitor::noteExtreme(Condition& condition, bool force)
{
    if (condition.eventId == 0 || !condition.extremeDirty)
        return;
    const QDateTime at = now();
    if (!force && condition.extremeNoted.isValid() &&
        condition.extremeNoted.secsTo(at) < NoteIntervalSeconds)
        return;
    const AlarmEventRecord& r = active[condition.eventId];
    submit(AlarmEventWrite::extreme(r.id, condition.extreme, condition.extremeTime));
    condition.extremeNoted = at;
    condition.extremeDirty = false;
    emit alarmUpdated(r);
}

void AlarmMonitor::tick()
{
    if (stopped)
        return;
    const QDateTime at = now();
    for (NodeState& n : nodes) {
        for (int c = 0; c < 2; ++c) {
            raiseIfDue(n, c + 1, n.channel[c], n.config.rules.channel[c].delayMinutes);
            noteExtreme(n.channel[c], false);
        }
        const int minutes = n.config.rules.noDataMinutes;
        if (minutes > 0 && !n.noData.present &&
            n.lastValidClock.secsTo(at) >= qint64(minutes) * 60) {
            begin(n.noData, AlarmKind::NoData, 0, 0, n.lastValidTime);
            n.noData.since = n.lastValidClock;
            raiseIfDue(n, 0, n.noData, minutes);
        } else if (n.noData.present && n.noData.eventId == 0) {
            raiseIfDue(n, 0, n.noData, minutes);
        }
        noteExtreme(n.battery, false);
    }
    noteLastSamples(false);
    reviewSuppressions();
    countsMayHaveChanged();
}

void AlarmMonitor::stop()
{
    if (stopped)
        return;
    const qint64 t = now().toSecsSinceEpoch();
    noteLastSamples(true);
    for (NodeState& n : nodes) {
        for (Condition* condition : {&n.channel[0], &n.channel[1], &n.noData, &n.battery}) {
            if (condition->present)
                end(*condition, t, AlarmEnd::RecorderStopped);
        }
    }
    stopped = true;
    countsMayHaveChanged();
}

bool AlarmMonitor::acknowledge(qint64 eventId, const QString& by, const QString& comment,
                               const CorrectiveAction& action)
{
    if (by.trimmed().isEmpty())
        return false;
    const qint64 at = now().toSecsSinceEpoch();
    // The extreme as the acknowledgement saw it goes to the store first: a signature of the
    // acknowledgement holds it, and the stored one must never lag behind.
    for (NodeState& n : nodes) {
        for (Condition* c : {&n.channel[0], &n.channel[1], &n.noData, &n.battery}) {
            if (c->eventId == eventId && active.contains(eventId) &&
                !active.value(eventId).acknowledgedAt)
                noteExtreme(*c, true);
        }
    }
    auto it = active.find(eventId);
    AlarmEventRecord r;
    if (it != active.end()) {
        if (it->acknowledgedAt)
            return true;
        it->acknowledgedAt = at;
        it->acknowledgedBy = by.trimmed();
        it->comment = comment;
        it->action = action;
        r = *it;
    } else {
        // An event that ended already: only the log holds it.
        if (!store)
            return false;
        r.id = eventId;
        r.acknowledgedAt = at;
        r.acknowledgedBy = by.trimmed();
        r.comment = comment;
        r.action = action;
    }
    submit(AlarmEventWrite::acknowledge(eventId, at, r.acknowledgedBy, comment, action));
    emit alarmAcknowledged(r);
    countsMayHaveChanged();
    return true;
}

void AlarmMonitor::setSignature(qint64 eventId, const QString& manifestation)
{
    const auto it = active.find(eventId);
    if (it == active.end())
        return;
    it->signature = manifestation;
    emit alarmUpdated(*it);
}

QVector<AlarmEventRecord> AlarmMonitor::activeAlarms() const
{
    QVector<AlarmEventRecord> out;
    out.reserve(active.size());
    for (const AlarmEventRecord& r : active)
        out << r;
    std::sort(out.begin(), out.end(), [](const AlarmEventRecord& a, const AlarmEventRecord& b) {
        return a.start != b.start ? a.start > b.start : a.id > b.id;
    });
    return out;
}

bool AlarmMonitor::isAlarming(qint64 eventId) const
{
    const auto it = active.constFind(eventId);
    return it != active.constEnd() && !it->acknowledgedAt && !isSuppressedNow(*it);
}

QVector<AlarmEventRecord> AlarmMonitor::interruptedEvents() const
{
    return store ? store->interruptedEvents() : QVector<AlarmEventRecord>();
}

bool AlarmMonitor::soundWanted() const
{
    return std::any_of(active.begin(), active.end(), [this](const AlarmEventRecord& r) {
        return !r.acknowledgedAt && !isSuppressedNow(r);
    });
}

void AlarmMonitor::addSuppression(const AlarmSuppression& suppression)
{
    if (suppression.id == 0)
        return;
    known.insert(suppression.id, suppression);
    reviewSuppressions();
    countsMayHaveChanged();
}

bool AlarmMonitor::endSuppression(qint64 id)
{
    const auto it = known.find(id);
    const qint64 t = now().toSecsSinceEpoch();
    if (it == known.end() || !it->holdsAt(t))
        return false;
    it->ended = std::max(t, it->from);
    reviewSuppressions();
    countsMayHaveChanged();
    return true;
}

QVector<AlarmSuppression> AlarmMonitor::suppressions() const
{
    const qint64 t = now().toSecsSinceEpoch();
    QVector<AlarmSuppression> out;
    for (const AlarmSuppression& s : known) {
        if (s.holdsAt(t))
            out << s;
    }
    std::sort(out.begin(), out.end(), [](const AlarmSuppression& a, const AlarmSuppression& b) {
        return a.from != b.from ? a.from < b.from : a.id < b.id;
    });
    return out;
}

std::optional<AlarmSuppression> AlarmMonitor::holdingFor(const QString& serial, int channel,
                                                         qint64 at) const
{
    std::optional<AlarmSuppression> found;
    for (const AlarmSuppression& s : known) {
        if (s.covers(serial, channel) && s.holdsAt(at) && (!found || s.end() > found->end()))
            found = s;
    }
    return found;
}

bool AlarmMonitor::isOutOfService(const QString& serial) const
{
    const QDateTime at = now();
    const qint64 t = at.toSecsSinceEpoch();
    for (const AlarmSuppression& s : known) {
        if (s.kind == AlarmSuppression::Kind::OutOfService && s.serial == serial && s.holdsAt(t))
            return true;
    }
    const auto it = nodes.constFind(serial);
    return it != nodes.constEnd() && it->config.rules.outOfServiceDaily.contains(at);
}

std::optional<AlarmSuppression> AlarmMonitor::suppressionOf(const AlarmEventRecord& r) const
{
    const qint64 t = now().toSecsSinceEpoch();
    if (r.isActive()) {
        if (auto s = holdingFor(r.serial, r.channel, t))
            return s;
        const auto it = nodes.constFind(r.serial);
        if (it != nodes.constEnd() && it->config.rules.outOfServiceDaily.contains(now())) {
            AlarmSuppression daily;
            daily.kind = AlarmSuppression::Kind::OutOfService;
            daily.serial = r.serial;
            daily.reason = it->config.rules.outOfServiceDaily.text();
            return daily;
        }
        return std::nullopt;
    }
    return holdingFor(r.serial, r.channel, r.raised);
}

bool AlarmMonitor::isSuppressedNow(const AlarmEventRecord& r) const
{
    return holdingFor(r.serial, r.channel, now().toSecsSinceEpoch()).has_value() ||
           isOutOfService(r.serial);
}

void AlarmMonitor::reviewSuppressions()
{
    QSet<qint64> quietNow;
    for (const AlarmEventRecord& r : active) {
        if (isSuppressedNow(r))
            quietNow.insert(r.id);
    }
    const QSet<qint64> wasQuiet = quiet;
    quiet = quietNow;
    for (const qint64 id : wasQuiet) {
        const auto it = active.constFind(id);
        if (it != active.constEnd() && !quietNow.contains(id))
            emit alarmUnsuppressed(*it);
    }
    const qint64 t = now().toSecsSinceEpoch();
    QSet<qint64> holdingNow;
    for (const AlarmSuppression& s : known) {
        if (s.holdsAt(t))
            holdingNow.insert(s.id);
    }
    if (holdingNow == holding)
        return;
    for (const qint64 id : holding) {
        const AlarmSuppression& s = known[id];
        if (!holdingNow.contains(id) && !s.ended)
            emit suppressionExpired(s);
    }
    holding = holdingNow;
    emit suppressionsChanged();
}

int AlarmMonitor::unacknowledgedCount() const
{
    return int(std::count_if(active.begin(), active.end(),
                             [](const AlarmEventRecord& r) { return !r.acknowledgedAt; }));
}

void AlarmMonitor::noteLastSamples(bool force)
{
    const QDateTime at = now();
    if (!force && lastSamplesNoted.isValid() && lastSamplesNoted.secsTo(at) < NoteIntervalSeconds)
        return;
    lastSamplesNoted = at;
    QVector<QPair<QString, qint64>> seen;
    for (NodeState& n : nodes) {
        const bool raised =
            n.channel[0].eventId || n.channel[1].eventId || n.noData.eventId || n.battery.eventId;
        if (!n.seenDirty || !raised || n.lastTime == 0)
            continue;
        seen.append({n.config.serial, n.lastTime});
        n.seenDirty = false;
    }
    if (!seen.isEmpty())
        submit(AlarmEventWrite::noteLastSamples(seen));
}

qint64 AlarmMonitor::newEventId()
{
    if (nextId <= 0) {
        nextId = store ? store->firstFreeId() : 1;
        // The file could not be read: ids from the clock stay above every id given so far.
        if (nextId <= 0) {
            nextId = now().toMSecsSinceEpoch();
            qWarning().noquote() << QStringLiteral("AlarmMonitor : event ids from ") +
                                        QString::number(nextId);
        }
    }
    return nextId++;
}

qint64 AlarmMonitor::continuedEvent(const NodeState& n, int channel, const Condition& condition)
{
    if (!stoppedRead) {
        stoppedRead = true;
        if (store) {
            for (const AlarmEventRecord& r : store->stoppedEvents())
                stoppedBefore.insert(r.serial + QLatin1Char('/') + QString::number(r.channel) +
                                         QLatin1Char('/') + alarmKindText(r.kind),
                                     r.id);
        }
    }
    const QString key = n.config.serial + QLatin1Char('/') + QString::number(channel) +
                        QLatin1Char('/') + alarmKindText(condition.kind);
    const auto it = stoppedBefore.find(key);
    if (it == stoppedBefore.end())
        return 0;
    // No data continues while no valid value came; the others when the first sample was beyond.
    const bool sinceStart = condition.kind == AlarmKind::NoData
                                ? !n.validSeen
                                : n.firstSampleTime != 0 && condition.start <= n.firstSampleTime;
    const qint64 id = *it;
    // Once judged the earlier event is done with: a later excursion is one of its own.
    stoppedBefore.erase(it);
    return sinceStart ? id : 0;
}

void AlarmMonitor::submit(const AlarmEventWrite& write)
{
    if (store)
        store->submit(write);
}

void AlarmMonitor::countsMayHaveChanged()
{
    const int count = activeCount();
    const int unacknowledged = unacknowledgedCount();
    if (count == reportedActive && unacknowledged == reportedUnacknowledged)
        return;
    reportedActive = count;
    reportedUnacknowledged = unacknowledged;
    emit countsChanged(count, unacknowledged);
}

NotificationEvent AlarmMonitor::notificationEvent(const AlarmEventRecord& r,
                                                  NotificationKind kind) const
{
    NotificationEvent e;
    e.eventId = r.id;
    e.kind = kind;
    e.alarmKind = r.kind;
    e.projectName = projectName;
    const MonitoredNode config = nodes.value(r.serial).config;
    e.nodeName = config.nodeName.isEmpty() ? r.serial : config.nodeName;
    e.serial = r.serial;
    if (r.channel == 1 || r.channel == 2) {
        e.channelName = config.channelName[r.channel - 1];
        e.unit = config.unit[r.channel - 1];
    } else if (r.kind == AlarmKind::Battery) {
        e.unit = QStringLiteral("%");
    }
    e.value = r.extremeValue.value_or(std::numeric_limits<double>::quiet_NaN());
    e.limit = r.limit.value_or(std::numeric_limits<double>::quiet_NaN());
    e.start = QDateTime::fromSecsSinceEpoch(r.start);
    if (r.end)
        e.end = QDateTime::fromSecsSinceEpoch(*r.end);
    e.ended = r.end ? r.ended : AlarmEnd::Active;
    e.continuesEventId = r.continues.value_or(0);
    return e;
}
