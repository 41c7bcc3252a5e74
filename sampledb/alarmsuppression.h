#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

// A time during which some of a node's alarms neither sound nor notify (a shelve of one channel,
// or of the whole node with channel 0) or are not raised at all (the node out of service for
// maintenance). Times are seconds since 1970 UTC.
struct AlarmSuppression
{
    enum class Kind
    {
        Shelve,
        OutOfService
    };

    qint64 id = 0;
    Kind kind = Kind::Shelve;
    QString serial;
    int channel = 0; // a shelve's channel (1, 2), or 0: every alarm of the node
    qint64 from = 0;
    qint64 until = 0;
    QString reason;
    QString user;
    std::optional<qint64> ended; // ended early (unshelved, back in service)

    // When it stops holding: ended early, or its time over.
    qint64 end() const { return ended ? qMin(*ended, until) : until; }
    bool holdsAt(qint64 t) const { return from <= t && t < end(); }
    // Whether it applies to an alarm of `alarmChannel` (0 for the node's own alarms).
    bool covers(const QString& alarmSerial, int alarmChannel) const
    {
        return serial == alarmSerial &&
               (kind == Kind::OutOfService || channel == 0 || channel == alarmChannel);
    }

    // "shelve", "out of service": as the table keeps the kind.
    static QString kindText(Kind kind);
    static std::optional<Kind> kindFromText(const QString& text);
};

Q_DECLARE_METATYPE(AlarmSuppression)
