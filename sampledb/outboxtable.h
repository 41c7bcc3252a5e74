#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// One notification waiting in (or gone from) the outbox. Times are seconds since 1970 UTC; the
// next attempt is in milliseconds, as the sender's back-off counts.
struct OutboxRecord
{
    QString messageId; // the same for every copy of one message: a receiver spots a repeat
    qint64 eventId = 0;
    QString kind;   // "start", "clear", "reminder", "escalation"
    QString target; // the target's name, never its secret
    QString body;   // the message's content as the recorder rebuilds it (a JSON document)
    qint64 created = 0;
    int attempts = 0;
    qint64 nextAttemptMs = 0;
    std::optional<qint64> sentAt;
    QString lastError;
    // When it was found no longer to be worth sending (a reminder or escalation of an alarm that
    // ended or was acknowledged meanwhile); such a message is never sent.
    std::optional<qint64> supersededAt;
    // A report's PDF and its file name, kept with the message until it is sent; empty for
    // the others. Its bytes go with the body after the retention.
    QString attachmentName;
    QByteArray attachment;

    bool isSuperseded() const { return supersededAt.has_value(); }
};

// The notification outbox of a project, in the project's database beside the alarm event log:
//
//   notification_outbox   one row per message and target
//     messageId, target    unique together: adding a message again changes nothing
//     eventId              the alarm event the message tells of
//     kind                 'start', 'clear', 'reminder' or 'escalation'
//     body                 the message's content (never a password or a webhook URL)
//     created              when the message was made
//     attempts             sends tried so far
//     nextAttemptMs        not to be tried before (milliseconds since 1970 UTC)
//     sentAt               when the server accepted it; NULL while it waits
//     lastError            the server's answer to the last failed try
//     supersededAt         when it was found not worth sending any more; NULL otherwise (the
//                          column is added to the table of an earlier version when first
//                          written)
//     attachmentName       a report's file name; NULL for the other messages
//     attachment           a report's PDF (a BLOB) until its body is pruned; NULL otherwise
//                          (both columns are added to an earlier version's table likewise)
//
// A sent row is evidence that the person on call was told: after the retention only its body
// and attachment go (pruneSentBodies()); its message id, event, kind, target and sent time stay.
//
// Every message id carries the database's origin: a random 128-bit value drawn once per file
// and kept in the state table, so that two sites, or a project made anew, never repeat an id.
//
// Writes run inside the caller's transaction (the recorder's writer), reads on a connection of
// the caller's.
class OutboxTable
{
public:
    static QString tableName() { return QStringLiteral("notification_outbox"); }

    static bool create(SqliteHandle db, QString* error);
    static bool exists(SqliteHandle db);

    // Inserts the message unless the same message for the same target is there already.
    static bool add(SqliteHandle db, const OutboxRecord& record, QString* error);
    // A failed try: the count, when to try again and why it failed.
    static bool noteAttempt(SqliteHandle db, const QString& messageId, const QString& target,
                            int attempts, qint64 nextAttemptMs, const QString& lastError,
                            QString* error);
    // The server accepted it; it is not sent again.
    static bool markSent(SqliteHandle db, const QString& messageId, const QString& target,
                         qint64 sentAt, QString* error);

    // Not sent and never to be: it is kept as superseded.
    static bool markSuperseded(SqliteHandle db, const QString& messageId, const QString& target,
                               qint64 at, QString* error);
    // Empties the body and drops the attachment of every row sent before `sentBefore` (seconds
    // since 1970 UTC).
    static bool pruneSentBodies(SqliteHandle db, qint64 sentBefore, QString* error);

    // The database's origin as 32 lower-case hex digits: read from the state table, drawn and
    // stored there first when the file has none. Outside any transaction of the caller's.
    static bool origin(SqliteHandle db, QString* origin, QString* error);
    // Names of its two halves in the state table.
    static QString originHighName() { return QStringLiteral("message origin high"); }
    static QString originLowName() { return QStringLiteral("message origin low"); }

    // Messages neither sent nor superseded, in the order they were made; none without the table.
    static bool unsent(SqliteHandle db, QVector<OutboxRecord>* out, QString* error);
    // The same on a read-only connection of its own to the file, for a thread that may wait: a
    // file without WAL may be locked by the writer's commit for a moment, and it waits that long.
    static bool unsentIn(const QString& databasePath, QVector<OutboxRecord>* out, QString* error);
    static constexpr int UnsentBusyTimeoutMs = 2000;
    // Every message, sent or not, in the order they were made.
    static bool all(SqliteHandle db, QVector<OutboxRecord>* out, QString* error);
};
