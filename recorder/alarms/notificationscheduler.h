#pragma once

#include "alarmeventrecord.h"
#include "notificationevent.h"
#include "notificationsettings.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class AlarmMonitor;
class NotificationOutbox;

// Turns the alarm monitor's changes into outbox messages by the project's notification
// settings: one on an alarm's start (the monitor raises it after the channel's delay), one on
// its clearing, a reminder every N minutes while it lasts unacknowledged, and once it has gone
// M minutes unacknowledged one to the escalation list too. An acknowledged or ended alarm gets
// no more reminders, and those still waiting in the outbox are superseded at their turn. An
// alarm ended by the recorder stopping gets its end message too (saying that its state is
// unknown until the recorder runs again; the next start raises it again as the continuation if
// it still holds); so does one a recorder that died left open, which the next start ends so.
// An alarm raised while shelved or its node out of service is told to nobody, its end neither;
// once the shelve is over and it still holds it is told as a start then. A told alarm shelved
// later sends no reminders while shelved.
// Minutes count on the scheduler's clock, which tests replace, from the moment the alarm was
// raised; a clock set back delays nothing beyond its nominal interval.
class NotificationScheduler : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    NotificationScheduler(AlarmMonitor* monitor, NotificationOutbox* outbox,
                          QObject* parent = nullptr);

    void setClock(const Clock& clock);
    // The first settings (those of the start) tell the ends of the events a recorder that died
    // left open, which the start's first write closes: given in the same turn, the close and
    // the messages reach the database together.
    void setSettings(const NotificationSettings& settings);
    const NotificationSettings& settings() const { return m_settings; }

    // Every second: reminders and escalations that are due.
    void tick();

private:
    struct Watched
    {
        AlarmEventRecord record;
        QDateTime raised;
        int reminders = 0;
        bool escalated = false;
    };

    void started(const AlarmEventRecord& record);
    void ended(const AlarmEventRecord& record);
    void acknowledged(const AlarmEventRecord& record);
    void tellInterrupted();
    // To every enabled target; an escalation's e-mail goes to the escalation list as well.
    void post(const AlarmEventRecord& record, NotificationKind kind, int sequence = 0);

    QPointer<AlarmMonitor> monitor;
    NotificationOutbox* outbox;
    Clock clock;
    NotificationSettings m_settings;
    QHash<qint64, Watched> watched;
    // Events raised while shelved or out of service, told to nobody so far.
    QSet<qint64> quiet;
    bool interruptedTold = false;
};
