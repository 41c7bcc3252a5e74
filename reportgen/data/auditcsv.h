#pragma once

#include "auditentry.h"

#include <QByteArray>
#include <QString>

// The audit trail as CSV after RFC 4180, UTF-8: one header line, then one line per entry, each
// line ended by CR LF. A field holding a comma, a double quote, a CR or an LF is quoted, its
// quotes doubled, so that any text of a user (a reason of several lines) stays one field.
// Columns: Entry (the sequence), Time (local, ISO 8601 with its offset from UTC), User, Action,
// Object, Old value, New value, Reason, SHA-256 (the entry's hash in the chain).
class AuditCsv
{
public:
    static QByteArray header();
    static QByteArray line(const AuditEntry& entry);
    // One field, quoted where it must be.
    static QString field(const QString& text);
    // A text from outside (a name, a comment) as one field: one that a spreadsheet would run as
    // a formula (beginning with = + - @, a tab or a CR) gets a leading apostrophe first.
    static QString textField(const QString& text);
    // "2026-03-29T03:00:00.000+02:00": local time with the offset it had then.
    static QString isoTime(qint64 ms);
};
