#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

struct AlarmEventRecord;

// The fields of a record as they stood when it was signed, in a fixed order. Its canonical form
// is UTF-8 text, one line per field, "name:value" and a newline, beginning with the record's
// kind and id:
//     kind:alarm event
//     id:17
//     node:1001
//     ...
// In values a backslash is written "\\", a newline "\n" and a carriage return "\r" (as in the
// audit trail). The signature keeps this text and its SHA-256; a check reads the text back,
// hashes it again and compares its fields with the record as it stands now.
struct SignedRecord
{
    QString kind; // "alarm event", "edited settings", "report approval", ...
    QString id;   // the record's id within its kind
    QVector<QPair<QString, QString>> fields;

    void add(const QString& name, const QString& value) { fields.append({name, value}); }
    // The value of a field; empty when the record has none of that name.
    QString value(const QString& name) const;
    bool has(const QString& name) const;
    // How `now`, the record as it stands, differs from these signed fields: the first field gone
    // or changed, or other fields; empty when it holds them unchanged. `noun` names the record
    // ("record", "entry") in the sentence.
    QString changedIn(const SignedRecord& now, const QString& noun) const;

    QByteArray canonical() const;
    // SHA-256 of the canonical form, 64 lowercase hex digits.
    QByteArray hash() const;
    // The record of a canonical text; false for text that is not one (a line without ':', no
    // kind or id first).
    static bool parse(const QByteArray& canonical, SignedRecord* record);

    // An alarm event's signed fields: event id, node, channel, kind, limit, start, extreme,
    // comment (and the corrective action's fields when it has them). Its end and later extremes
    // are not among them: an alarm that ends after it was signed still verifies.
    static QString alarmEventKind() { return QStringLiteral("alarm event"); }
    static SignedRecord alarmEvent(const AlarmEventRecord& record);
};
