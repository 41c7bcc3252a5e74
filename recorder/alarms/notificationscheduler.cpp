#include "notificationscheduler.h"

#include "alarmmonitor.h"
#include "notificationmessage.h"
#include "notificationoutbox.h"

NotificationScheduler::NotificationScheduler(AlarmMonitor* alarmMonitor,
                                             NotificationOutbox* notificationOutbox,
                                             QObject* parent)
    : QObject(parent), monitor(alarmMonitor), outbox(notificationOutbox),
      clock([] { return QDateTime::currentDateTime(); })
{
    connect(monitor, &AlarmMonitor::alarmStarted, this, &NotificationScheduler::started);
    connect(monitor, &AlarmMonitor::alarmEnded, this, &NotificationScheduler::ended);
    connect(monitor, &AlarmMonitor::alarmAcknowledged, this, &NotificationScheduler::acknowledged);
    // Quiet no more (a shelve over, back in service): an event raised while quiet is told as
    // a start from now; one told before goes on, its reminders counting from now.
    connect(monitor, &AlarmMonitor::alarmUnsuppressed, this, [this](const AlarmEventRecord& r) {
        if (quiet.remove(r.id))
            started(r);
    });
    // Checked at send time: a reminder that waited (an outage, a restart) for an alarm that ended
    // or was acknowledged meanwhile would tell what is no longer true.
    // The outbox may outlive the scheduler and its monitor: without them nothing is superseded.
    outbox->setSupersedeCheck(
        [self = QPointer<NotificationScheduler>(this)](const NotificationMessage& message) {
            const NotificationKind kind = message.event().kind;
            if (!self || !self->monitor ||
                (kind != NotificationKind::Reminder && kind != NotificationKind::Escalation))
                return false;
            return !self->monitor->isAlarming(message.event().eventId);
        });
}

void NotificationScheduler::setClock(const Clock& now)
{
    clock = now;
}

void NotificationScheduler::setSettings(const NotificationSettings& settings)
{
    m_settings = settings;
    if (!interruptedTold)
        tellInterrupted();
}

void NotificationScheduler::started(const AlarmEventRecord& record)
{
    // Shelved or out of service: recorded, but nobody is told (alarmUnsuppressed later).
    if (monitor && record.isActive() && monitor->suppressionOf(record)) {
        quiet.insert(record.id);
        return;
    }
    Watched w;
    w.record = record;
    w.raised = clock();
    watched.insert(record.id, w);
    if (m_settings.notifyStart)
        post(record, NotificationKind::Start);
}

void NotificationScheduler::ended(const AlarmEventRecord& record)
{
    watched.remove(record.id);
    // Never told: its end is not told either.
    if (quiet.remove(record.id))
        return;
    // An end with the recorder's stop is told as well: the state is unknown from here on.
    if (m_settings.notifyClear)
        post(record, NotificationKind::Clear);
}

void NotificationScheduler::acknowledged(const AlarmEventRecord& record)
{
    quiet.remove(record.id);
    watched.remove(record.id);
}

// The monitor never had them: they end with this start's first write. Their end message goes
// once: a later start finds them closed, or their message in the outbox.
void NotificationScheduler::tellInterrupted()
{
    interruptedTold = true;
    if (!monitor || !m_settings.notifyClear)
        return;
    for (const AlarmEventRecord& record : monitor->interruptedEvents())
        post(record, NotificationKind::Clear);
}

void NotificationScheduler::tick()
{
    const QDateTime now = clock();
    for (Watched& w : watched) {
        // Shelved meanwhile: no reminder (the shelve's end starts them again).
        if (monitor && monitor->suppressionOf(w.record)) {
            w.raised = now.addSecs(-w.reminders * qint64(m_settings.reminderMinutes) * 60);
            continue;
        }
        // A clock set back must not delay what is due: no wait lasts longer from now than its
        // nominal length (the count of reminders sent goes on from where it is).
        const qint64 reminderSecs = qint64(m_settings.reminderMinutes) * 60;
        if (m_settings.remindersEnabled && reminderSecs > 0 &&
            w.raised.addSecs(w.reminders * reminderSecs) > now)
            w.raised = now.addSecs(-w.reminders * reminderSecs);
        if (w.raised > now)
            w.raised = now;
        const qint64 minutes = w.raised.secsTo(now) / 60;
        if (m_settings.remindersEnabled && m_settings.reminderMinutes > 0) {
            const int due = int(minutes / m_settings.reminderMinutes);
            // One reminder for the latest interval passed: a clock that jumped sends no burst.
            if (due > w.reminders) {
                w.reminders = due;
                post(w.record, NotificationKind::Reminder, due);
            }
        }
        if (m_settings.escalationEnabled && !w.escalated &&
            minutes >= m_settings.escalationMinutes) {
            w.escalated = true;
            post(w.record, NotificationKind::Escalation);
        }
    }
}

void NotificationScheduler::post(const AlarmEventRecord& record, NotificationKind kind,
                                 int sequence)
{
    if (!monitor || !m_settings.anyEnabled())
        return;
    // The latest extreme and end, as the monitor knows them now.
    AlarmEventRecord current = record;
    for (const AlarmEventRecord& r : monitor->activeAlarms()) {
        if (r.id == record.id)
            current = r;
    }
    NotificationEvent event = monitor->notificationEvent(current, kind);
    event.sequence = sequence;
    const NotificationMessage message(event);
    if (m_settings.emailEnabled)
        outbox->add(message,
                    m_settings.emailTarget(QString(), kind == NotificationKind::Escalation).name);
    if (m_settings.webhookEnabled)
        outbox->add(message, m_settings.webhookName);
}
