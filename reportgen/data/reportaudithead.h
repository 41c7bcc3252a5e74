#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The audit trail's head as a report prints it below its content: read from the project's
// database when the report is made, so that every printed report is a witness of the chain kept
// outside the file (whoever holds the file could rewrite the whole chain).
class ReportAuditHead
{
public:
    enum class State
    {
        NotRead,
        None, // the project keeps no audit trail, or no entry yet
        Present,
        Unreadable, // error() says why
    };

    // Reads the head now, on the caller's thread (a report's worker), read-only.
    static ReportAuditHead read(const QString& databasePath);

    State state() const { return m_state; }
    qint64 sequence() const { return m_sequence; }
    const QByteArray& hash() const { return m_hash; }
    const QString& error() const { return m_error; }
    // When it was read, local time.
    const QDateTime& readAt() const { return m_readAt; }

    // One line: "Audit trail head: entry N, SHA-256 <64 hex digits>", "Audit trail head: none",
    // or why it could not be read.
    QString line() const;
    // "yyyy-MM-dd hh:mm:ss", local time; empty when not read.
    QString readAtText() const;

private:
    State m_state = State::NotRead;
    qint64 m_sequence = 0;
    QByteArray m_hash;
    QString m_error;
    QDateTime m_readAt;
};
