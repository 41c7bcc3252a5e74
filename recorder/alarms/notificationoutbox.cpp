#include "notificationoutbox.h"

#include "databasewriter.h"
#include "notificationservice.h"
#include "outboxtable.h"
#include "writejob.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtConcurrent>

#include <cmath>

namespace {

QString entryKey(const QString& messageId, const QString& target)
{
    return messageId + QLatin1Char(' ') + target;
}

// Everything that decides where a target's messages go and how: when it changes, what its server
// refused for good may be tried again.
QString targetSettings(const NotificationTarget& t)
{
    return QStringList{QString::number(int(t.kind)),
                       t.host,
                       QString::number(t.port),
                       QString::number(int(t.security)),
                       t.user,
                       t.password,
                       t.sender,
                       t.recipients.join(QLatin1Char(',')),
                       t.caFile,
                       QString::number(int(t.cleartext)),
                       t.passwordProblem,
                       t.url}
        .join(QChar(0x1F));
}

QJsonValue numberOrNull(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

double numberOrNan(const QJsonValue& value)
{
    return value.isDouble() ? value.toDouble() : std::numeric_limits<double>::quiet_NaN();
}

QJsonValue timeOrNull(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(double(time.toMSecsSinceEpoch())) : QJsonValue();
}

QDateTime timeOrInvalid(const QJsonValue& value)
{
    return value.isDouble() ? QDateTime::fromMSecsSinceEpoch(qint64(value.toDouble()))
                            : QDateTime();
}

// The row's body: what the message is made from, so that a later run builds the same texts.
QString encodeEvent(const NotificationEvent& e)
{
    QJsonObject o;
    o.insert(QStringLiteral("eventId"), double(e.eventId));
    o.insert(QStringLiteral("kind"), int(e.kind));
    o.insert(QStringLiteral("sequence"), e.sequence);
    o.insert(QStringLiteral("alarmKind"), int(e.alarmKind));
    o.insert(QStringLiteral("project"), e.projectName);
    o.insert(QStringLiteral("node"), e.nodeName);
    o.insert(QStringLiteral("serial"), e.serial);
    o.insert(QStringLiteral("channel"), e.channelName);
    o.insert(QStringLiteral("value"), numberOrNull(e.value));
    o.insert(QStringLiteral("limit"), numberOrNull(e.limit));
    o.insert(QStringLiteral("unit"), e.unit);
    o.insert(QStringLiteral("start"), timeOrNull(e.start));
    o.insert(QStringLiteral("end"), timeOrNull(e.end));
    if (e.ended != AlarmEnd::Active)
        o.insert(QStringLiteral("ended"), alarmEndText(e.ended));
    if (e.continuesEventId > 0)
        o.insert(QStringLiteral("continues"), double(e.continuesEventId));
    if (!e.detail.isEmpty())
        o.insert(QStringLiteral("detail"), e.detail);
    if (e.kind == NotificationKind::Report) {
        o.insert(QStringLiteral("report"), e.reportTitle);
        o.insert(QStringLiteral("period"), e.periodText);
        o.insert(QStringLiteral("late"), e.late);
        o.insert(QStringLiteral("reportKey"), e.reportKey);
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool decodeEvent(const QString& body, NotificationEvent* e)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body.toUtf8());
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const int kind = o.value(QStringLiteral("kind")).toInt(-1);
    const int alarmKind = o.value(QStringLiteral("alarmKind")).toInt(-1);
    if (kind < int(NotificationKind::Start) || kind > int(NotificationKind::BackupFailed) ||
        alarmKind < int(AlarmKind::High) || alarmKind > int(AlarmKind::Battery))
        return false;
    e->eventId = qint64(o.value(QStringLiteral("eventId")).toDouble());
    e->kind = NotificationKind(kind);
    e->sequence = o.value(QStringLiteral("sequence")).toInt();
    e->alarmKind = AlarmKind(alarmKind);
    e->projectName = o.value(QStringLiteral("project")).toString();
    e->nodeName = o.value(QStringLiteral("node")).toString();
    e->serial = o.value(QStringLiteral("serial")).toString();
    e->channelName = o.value(QStringLiteral("channel")).toString();
    e->value = numberOrNan(o.value(QStringLiteral("value")));
    e->limit = numberOrNan(o.value(QStringLiteral("limit")));
    e->unit = o.value(QStringLiteral("unit")).toString();
    e->start = timeOrInvalid(o.value(QStringLiteral("start")));
    e->end = timeOrInvalid(o.value(QStringLiteral("end")));
    // Absent from the rows of earlier versions.
    if (!alarmEndFromText(o.value(QStringLiteral("ended")).toString(), &e->ended))
        e->ended = e->end.isValid() ? AlarmEnd::Cleared : AlarmEnd::Active;
    e->continuesEventId = qint64(o.value(QStringLiteral("continues")).toDouble());
    e->detail = o.value(QStringLiteral("detail")).toString();
    e->reportTitle = o.value(QStringLiteral("report")).toString();
    e->periodText = o.value(QStringLiteral("period")).toString();
    e->late = o.value(QStringLiteral("late")).toBool();
    e->reportKey = o.value(QStringLiteral("reportKey")).toString();
    return true;
}

// On a pool thread: the rows left unsent (the thread may wait for a commit of the writer's).
QVector<OutboxRecord> readUnsent(const QString& path, QString* error)
{
    QVector<OutboxRecord> rows;
    OutboxTable::unsentIn(path, &rows, error);
    return rows;
}

} // namespace

NotificationOutbox::NotificationOutbox(DatabaseWriter* databaseWriter, const QString& databasePath,
                                       NotificationService* notificationService, QObject* parent)
    : QObject(parent), writer(databaseWriter), path(databasePath),
      clock([] { return QDateTime::currentDateTime(); })
{
    lanes[0].service = notificationService;
    connect(notificationService, &NotificationService::finished, this,
            [this](quint64 request, const NotificationOutcome& outcome) {
                answered(&lanes[0], request, outcome);
            });
}

void NotificationOutbox::setReportService(NotificationService* reportService)
{
    if (lanes[1].service || !reportService)
        return;
    lanes[1].service = reportService;
    connect(reportService, &NotificationService::finished, this,
            [this](quint64 request, const NotificationOutcome& outcome) {
                answered(&lanes[1], request, outcome);
            });
}

NotificationOutbox::Lane& NotificationOutbox::laneOf(const NotificationMessage& message)
{
    return message.event().kind == NotificationKind::Report && lanes[1].service ? lanes[1]
                                                                                : lanes[0];
}

NotificationOutbox::~NotificationOutbox() = default;

void NotificationOutbox::setClock(const Clock& now)
{
    clock = now;
}

qint64 NotificationOutbox::nowMs() const
{
    return clock().toMSecsSinceEpoch();
}

void NotificationOutbox::setTarget(const NotificationTarget& target)
{
    targets.insert(target.name, target);
    const auto refusal = refusals.constFind(target.name);
    if (refusal != refusals.cend() && refusal->settings != targetSettings(target)) {
        refusals.erase(refusal);
        reportState();
    }
    sendDue();
}

void NotificationOutbox::removeTarget(const QString& name)
{
    targets.remove(name);
    reportState();
}

void NotificationOutbox::setExpectedTargets(const QStringList& names)
{
    expectedKnown = true;
    expectedTargets = QSet<QString>(names.begin(), names.end());
    reportState();
}

void NotificationOutbox::setSupersedeCheck(const SupersedeCheck& check)
{
    supersedeCheck = check;
}

void NotificationOutbox::setRetentionDays(int days)
{
    retentionDays = std::max(0, days);
    lastPruneMs = -1;
}

bool NotificationOutbox::isOrphaned(const Entry& entry) const
{
    return expectedKnown && !targets.contains(entry.target) &&
           !expectedTargets.contains(entry.target);
}

QString NotificationOutbox::messageOrigin()
{
    const QString origin = writer ? writer->messageOrigin() : QString();
    if (!origin.isEmpty())
        return origin;
    if (fallbackOrigin.isEmpty()) {
        fallbackOrigin = QString::number(QRandomGenerator::system()->generate64(), 16)
                             .rightJustified(16, QLatin1Char('0')) +
                         QString::number(QRandomGenerator::system()->generate64(), 16)
                             .rightJustified(16, QLatin1Char('0'));
        qWarning().noquote() << QStringLiteral("NotificationOutbox : the database gave no "
                                               "message origin; this run uses ") +
                                    fallbackOrigin;
    }
    return fallbackOrigin;
}

qint64 NotificationOutbox::retryDelayMs(int attempts)
{
    qint64 delay = FirstRetryMs;
    for (int i = 1; i < attempts && delay < LongestRetryMs; ++i)
        delay *= 2;
    return std::min(delay, LongestRetryMs);
}

int NotificationOutbox::failingCount() const
{
    return int(std::count_if(entries.begin(), entries.end(),
                             [this](const Entry& e) { return e.attempts > 0 || isOrphaned(e); }));
}

QStringList NotificationOutbox::refusedRecipients() const
{
    QStringList all;
    for (const Refusal& r : refusals) {
        for (const QString& address : r.recipients) {
            if (!all.contains(address, Qt::CaseInsensitive))
                all << address;
        }
    }
    all.sort(Qt::CaseInsensitive);
    return all;
}

void NotificationOutbox::load()
{
    auto* watcher = new QFutureWatcher<QPair<QVector<OutboxRecord>, QString>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        const auto [rows, error] = watcher->result();
        if (!error.isEmpty())
            qWarning().noquote() << QStringLiteral("NotificationOutbox::load : ") + error;
        QVector<Entry> read;
        for (const OutboxRecord& r : rows) {
            NotificationEvent event;
            if (!decodeEvent(r.body, &event)) {
                qWarning().noquote() << QStringLiteral("NotificationOutbox::load : unreadable "
                                                       "message left in the table : ") +
                                            r.messageId;
                continue;
            }
            Entry e;
            e.message = NotificationMessage(event);
            e.message.setCreated(QDateTime::fromSecsSinceEpoch(r.created));
            if (!r.attachmentName.isEmpty())
                e.message.setAttachment(r.attachmentName, r.attachment);
            // The id it was first made with, whatever this run's origin: a repeat stays one.
            e.message.setKey(r.messageId);
            e.messageId = r.messageId;
            e.target = r.target;
            e.attempts = r.attempts;
            e.nextAttemptMs = r.nextAttemptMs;
            e.lastError = r.lastError;
            read << e;
        }
        adoptLoaded(read);
    });
    const QString file = path;
    watcher->setFuture(QtConcurrent::run([file] {
        QString error;
        QVector<OutboxRecord> rows = readUnsent(file, &error);
        return qMakePair(rows, error);
    }));
}

void NotificationOutbox::adoptLoaded(const QVector<Entry>& rows)
{
    QSet<QString> known;
    for (const Entry& e : qAsConst(entries))
        known.insert(entryKey(e.messageId, e.target));
    QVector<Entry> older;
    for (const Entry& e : rows) {
        const QString key = entryKey(e.messageId, e.target);
        if (!known.contains(key) && !sentKeys.contains(key))
            older << e;
        if (!e.lastError.isEmpty())
            m_lastError = e.lastError;
    }
    // The older messages go first, in the order they were made.
    entries = older + entries;
    emit loaded(older.size());
    reportState();
    sendDue();
}

void NotificationOutbox::setAttachmentLimit(qint64 bytes)
{
    m_attachmentLimit = bytes;
}

bool NotificationOutbox::add(const NotificationMessage& message, const QString& target)
{
    const QString refusal =
        NotificationMessage::reportSizeRefusal(message.attachment().size(), m_attachmentLimit);
    if (!refusal.isEmpty()) {
        qWarning().noquote() << QStringLiteral("NotificationOutbox : not queued : ") +
                                    message.key() + QStringLiteral(" to ") + target +
                                    QStringLiteral(" : ") + refusal;
        return false;
    }
    Entry e;
    e.message = message;
    // Made now by the outbox's clock; the Date of every try and of a resend after a restart.
    e.message.setCreated(clock());
    e.messageId = message.keyWithOrigin(messageOrigin());
    e.message.setKey(e.messageId);
    e.target = target;
    e.nextAttemptMs = nowMs();
    const QString key = entryKey(e.messageId, e.target);
    if (sentKeys.contains(key))
        return true;
    for (const Entry& other : qAsConst(entries)) {
        if (entryKey(other.messageId, other.target) == key)
            return true;
    }
    OutboxRecord r;
    r.messageId = e.messageId;
    r.eventId = message.event().eventId;
    r.kind = NotificationMessage::kindName(message.event().kind);
    r.target = target;
    r.body = encodeEvent(message.event());
    r.created = e.message.created().toSecsSinceEpoch();
    r.nextAttemptMs = e.nextAttemptMs;
    if (message.hasAttachment()) {
        r.attachmentName = message.attachmentName();
        r.attachment = message.attachment();
    }
    if (writer) {
        writer->submit(WriteJob::outboxAdd(r));
        // Into the file at once rather than at the flush policy's pace: the message is what a
        // crash must not take.
        writer->flush(nowMs());
    }
    entries << e;
    sendDue();
    return true;
}

void NotificationOutbox::tick()
{
    pruneIfDue();
    sendDue();
}

void NotificationOutbox::pruneIfDue()
{
    const qint64 now = nowMs();
    if (!writer || retentionDays <= 0 ||
        (lastPruneMs >= 0 && now >= lastPruneMs && now - lastPruneMs < PruneIntervalMs))
        return;
    lastPruneMs = now;
    writer->submit(WriteJob::outboxPrune(now / 1000 - qint64(retentionDays) * 24 * 60 * 60));
}

void NotificationOutbox::sendDue()
{
    if (lanes[0].inFlight != 0 && (lanes[1].inFlight != 0 || !lanes[1].service))
        return;
    const qint64 now = nowMs();
    QVector<QPair<QString, QString>> dropped;
    for (auto it = entries.begin(); it != entries.end();) {
        Entry& e = *it;
        // A clock set back leaves no wait longer than its nominal length.
        const qint64 nominal = e.attempts > 0 ? retryDelayMs(e.attempts) : 0;
        if (e.nextAttemptMs > now + nominal)
            e.nextAttemptMs = now + nominal;
        Lane& lane = laneOf(e.message);
        if (lane.inFlight != 0 || e.nextAttemptMs > now || !targets.contains(e.target)) {
            ++it;
            continue;
        }
        NotificationTarget target = targets[e.target];
        const QString settings = targetSettings(target);
        if (!e.heldFor.isEmpty() && e.heldFor == settings) {
            ++it;
            continue;
        }
        if (supersedeCheck && supersedeCheck(e.message)) {
            qDebug().noquote() << QStringLiteral("NotificationOutbox : superseded : ") +
                                      e.messageId + QStringLiteral(" to ") + e.target;
            if (writer)
                writer->submit(WriteJob::outboxSuperseded(e.messageId, e.target, now / 1000));
            dropped.append({e.messageId, e.target});
            it = entries.erase(it);
            continue;
        }
        if (!e.onlyTo.isEmpty()) {
            QStringList rest;
            for (const QString& address : qAsConst(target.recipients)) {
                if (e.onlyTo.contains(address, Qt::CaseInsensitive))
                    rest << address;
            }
            // Settings without those recipients: the message goes to the list as it is now.
            if (!rest.isEmpty())
                target.recipients = rest;
        }
        lane.key = entryKey(e.messageId, e.target);
        lane.settings = settings;
        lane.inFlight = lane.service->send(e.message, target);
        ++it;
    }
    if (dropped.isEmpty())
        return;
    reportState();
    for (const auto& [messageId, target] : qAsConst(dropped))
        emit superseded(messageId, target);
}

void NotificationOutbox::answered(Lane* lane, quint64 request, const NotificationOutcome& outcome)
{
    if (request != lane->inFlight)
        return;
    lane->inFlight = 0;
    const QString inFlightKey = lane->key;
    const QString inFlightSettings = lane->settings;
    lane->key.clear();
    const auto it = std::find_if(entries.begin(), entries.end(), [&inFlightKey](const Entry& e) {
        return entryKey(e.messageId, e.target) == inFlightKey;
    });
    if (it != entries.end()) {
        if (!outcome.refused.isEmpty())
            refusals.insert(it->target, Refusal{inFlightSettings, outcome.refused});
        else if (outcome.accepted)
            refusals.remove(it->target);
        if (outcome.accepted && outcome.deferred.isEmpty()) {
            const qint64 sentAt = clock().toSecsSinceEpoch();
            if (!outcome.refused.isEmpty()) {
                qWarning().noquote() << QStringLiteral("NotificationOutbox : sent, but not to "
                                                       "every recipient : ") +
                                            it->messageId + QStringLiteral(" to ") + it->target +
                                            QStringLiteral(" : ") + outcome.answer;
                // The row keeps who was refused.
                if (writer)
                    writer->submit(WriteJob::outboxAttempt(it->messageId, it->target, it->attempts,
                                                           it->nextAttemptMs, outcome.answer));
            }
            if (writer)
                writer->submit(WriteJob::outboxSent(it->messageId, it->target, sentAt));
            sentKeys.insert(inFlightKey);
            const QString messageId = it->messageId;
            const QString target = it->target;
            entries.erase(it);
            emit sent(messageId, target);
        } else {
            ++it->attempts;
            it->nextAttemptMs = nowMs() + retryDelayMs(it->attempts);
            it->lastError = outcome.answer;
            m_lastError = outcome.answer;
            if (!outcome.retryable)
                it->heldFor = inFlightSettings;
            if (outcome.accepted)
                it->onlyTo = outcome.deferred;
            qWarning().noquote() << QStringLiteral("NotificationOutbox : not sent : ") +
                                        it->messageId + QStringLiteral(" to ") + it->target +
                                        QStringLiteral(" : ") + outcome.answer;
            if (writer)
                writer->submit(WriteJob::outboxAttempt(it->messageId, it->target, it->attempts,
                                                       it->nextAttemptMs, it->lastError));
        }
    }
    reportState();
    sendDue();
}

void NotificationOutbox::reportState()
{
    const int failing = failingCount();
    QString error = failing > 0 ? m_lastError : QString();
    for (const Entry& e : qAsConst(entries)) {
        if (isOrphaned(e)) {
            error = QStringLiteral("Target no longer in the settings: ") + e.target;
            break;
        }
    }
    const QStringList refused = refusedRecipients();
    if (failing == reportedFailing && error == reportedError && refused == reportedRefused)
        return;
    reportedFailing = failing;
    reportedError = error;
    reportedRefused = refused;
    emit stateChanged(failing, error, refused);
}
