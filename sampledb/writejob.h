#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariantList>
#include <QVector>

#include "sqlitehandle.h"

struct AlarmEventWrite;
struct AlarmTestRecord;
struct AlarmSuppression;
struct AuditEntry;
struct CalibrationRecord;
struct ElectronicSignature;
struct OutboxRecord;
struct ReportRunRecord;
struct UserChange;

// A write to the project's database other than a sample, carried by the DatabaseWriter in order
// with the samples, retried with them and never dropped. It is plain data (a kind and its
// values), so that it can wait in the spill journal across a restart; what each kind does is
// defined here, in the one module that writes SQL for the database.
//
// To add a kind: append an enumerator (never renumber: journals keep the numbers), a maker
// below that puts its values in order, a case in WriteJob::run() with its SQL (on the writer's
// connection, inside its transaction: no begin or commit of its own), and the table it needs to
// SampleTable, made by InsertSerialData when it opens a file. Submit the job with
// DatabaseWriter::submit(); jobStored() answers with its row id once committed.
struct WriteJob
{
    enum Kind : quint16
    {
        None = 0,
        // A forwarding target's cursor: the last row id that went out in full.
        ForwardPosition = 1,
        // A change of the alarm event log (AlarmEventWrite::toValues()).
        AlarmEvent = 2,
        // A notification put into the outbox (with a report's attachment name and bytes as
        // values 8 and 9), a failed try to send one, one sent.
        OutboxAdd = 3,
        OutboxAttempt = 4,
        OutboxSent = 5,
        // A message found no longer worth sending; the bodies of rows sent before a time.
        OutboxSuperseded = 6,
        OutboxPrune = 7,
        // An entry of the audit trail (AuditTrail), chained to the head when it is written, with
        // a copy of the project file for the entry that carries the copy's SHA-256.
        AuditRecord = 8,
        // The seal of a quarter hour's samples (SampleSeal), or the quarters a recorder that
        // ended without stopping left unsealed.
        SampleSeal = 9,
        // A row of the users table with the audit entry that records its change (UserTable).
        UserChange = 10,
        // An electronic signature with the audit entry that records it (SignatureTable).
        Signature = 11,
        // A shelve or out-of-service time begun, or ended early (AlarmSuppressionTable).
        AlarmSuppression = 12,
        // A calibration entry with its signature, or a reminder of one sent (CalibrationTable).
        Calibration = 13,
        // An alarm test's answers with its signature, or the state of its reminder
        // (AlarmTestTable).
        AlarmTest = 14,
        // A scheduled report's run: made, sent, failed or too large (ReportRunTable).
        ReportRun = 15,
    };

    Kind kind = None;
    QVariantList values;

    // The state table's name of a forwarding target's cursor.
    static QString forwardPositionName(const QString& target);
    static WriteJob forwardPosition(const QString& target, qint64 position);
    static WriteJob alarmEvent(const AlarmEventWrite& write);
    static WriteJob outboxAdd(const OutboxRecord& record);
    static WriteJob outboxAttempt(const QString& messageId, const QString& target, int attempts,
                                  qint64 nextAttemptMs, const QString& lastError);
    static WriteJob outboxSent(const QString& messageId, const QString& target, qint64 sentAt);
    static WriteJob outboxSuperseded(const QString& messageId, const QString& target, qint64 at);
    static WriteJob outboxPrune(qint64 sentBefore);
    // The entry's time, user, action, object, old and new values and reason; its sequence and
    // hashes are those of the head when it is written. jobStored() answers with its sequence.
    // With `projectFile` (not null), the file's text is kept under the entry's sequence
    // (ProjectFileCopy), in the same transaction.
    static WriteJob auditRecord(const AuditEntry& entry,
                                const QByteArray& projectFile = QByteArray());
    // Seals the quarter hour `quarter` (seconds / 900) at `timeMs`; jobStored() answers with the
    // seal's sequence.
    static WriteJob sampleSeal(qint64 quarter, qint64 timeMs);
    // Seals what the last run left unsealed, at most up to `throughQuarter`.
    static WriteJob sampleSealCatchUp(qint64 throughQuarter, qint64 timeMs);
    // The quarter a job seals, for a job of kind SampleSeal that seals one.
    bool sealsQuarter(qint64* quarter) const;
    // The row after the change and the entry recording it, written together;
    // jobStored() answers with the entry's sequence.
    static WriteJob userChange(const ::UserChange& change);
    // An electronic signature with its audit entry (SignatureTable::insert).
    static WriteJob signature(const ElectronicSignature& signature);
    // A shelve or out-of-service time as it begins, and its early end.
    static WriteJob suppressionStart(const ::AlarmSuppression& row);
    static WriteJob suppressionEnd(qint64 id, qint64 endedTime);
    // A calibration entry; with `signature` (not null, made for the entry's signed record) the
    // signature and its audit entry first, the row keeping its id. jobStored() answers with the
    // entry's id. A row of that id written before is left as it is, its signature too.
    static WriteJob calibration(const CalibrationRecord& row,
                                const ElectronicSignature* signature = nullptr);
    // The reminder `daysBefore` the due date of entry `id` went into the outbox at `at`.
    static WriteJob calibrationReminder(qint64 id, int daysBefore, qint64 at);
    // The rows of one alarm test (one per target); with `signature` (not null, made for the
    // test's signed record) the signature and its audit entry first. jobStored() answers with
    // the test's id. A test written before is left as it is.
    static WriteJob alarmTest(const QVector<AlarmTestRecord>& rows,
                              const ElectronicSignature* signature = nullptr);
    // A named value of the alarm tests' reminder (AlarmTestTable's state names).
    static WriteJob alarmTestState(const QString& name, qint64 value);
    // The state of a scheduled report's period, replacing the one written before.
    static WriteJob reportRun(const ReportRunRecord& row);

    // Runs the job on the writer's connection, inside its transaction. `rowId` gets the row id
    // the job wrote (0 when it wrote none). False with the reason when the job failed (the
    // transaction is then rolled back and retried) or is of an unknown kind.
    bool run(SqliteHandle db, qint64* rowId, QString* error) const;

    // The values as the spill journal keeps them, and back.
    QByteArray encodedValues() const;
    static bool decodeValues(const QByteArray& bytes, QVariantList* values);
};

Q_DECLARE_METATYPE(WriteJob)
