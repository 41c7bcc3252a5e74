#include "signaturecheck.h"

#include "alarmeventrecord.h"
#include "alarmeventtable.h"
#include "alarmsuppressiontable.h"
#include "alarmtesttable.h"
#include "auditentry.h"
#include "auditreviewtable.h"
#include "calibrationtable.h"
#include "reportapprovaltable.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "sqlitestatement.h"
#include "userchangesignature.h"

#include <sqlite3.h>

#include <QSet>

#include <memory>

namespace {

QString signatureText(const ElectronicSignature& s)
{
    return QStringLiteral("signature %1 (%2 by %3 of %4 %5)")
        .arg(s.id)
        .arg(s.meaning, s.signer, s.recordKind, s.recordId);
}

// Whether `now` is `signedValue` or lies beyond it in the alarm's direction: an extreme only
// ever grows while the alarm lasts.
bool extremeHolds(const QString& signedValue, const QString& now, const QString& alarm)
{
    if (signedValue == now)
        return true;
    bool signedOk = false;
    bool nowOk = false;
    const double was = signedValue.toDouble(&signedOk);
    const double is = now.toDouble(&nowOk);
    if (!signedOk || !nowOk)
        return false;
    AlarmKind kind = AlarmKind::High;
    if (!alarmKindFromText(alarm, &kind))
        return false;
    if (kind == AlarmKind::High)
        return is >= was;
    if (kind == AlarmKind::Low)
        return is <= was;
    return false;
}

} // namespace

QString SignatureCheck::alarmEventProblem(SqliteHandle db, const SignedRecord& signedFields)
{
    bool idOk = false;
    const qint64 id = signedFields.id.toLongLong(&idOk);
    if (!idOk)
        return QStringLiteral("its alarm event id is not a number");
    if (!AlarmEventTable::exists(db))
        return QStringLiteral("the alarm events are missing");
    SqliteStatement s(db, (QStringLiteral("select ") + AlarmEventTable::columns() +
                           AlarmEventTable::actionColumns(db) +
                           QStringLiteral(" from alarm_event where id = ?"))
                              .toUtf8());
    if (!s.isValid())
        return QStringLiteral("the alarm events could not be read: ") +
               QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_bind_int64(s.get(), 1, id);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return QStringLiteral("its alarm event is missing");
    AlarmEventRecord record;
    AlarmEventTable::readRecord(s.get(), &record);
    const SignedRecord now = SignedRecord::alarmEvent(record);
    for (const auto& field : signedFields.fields) {
        const QString current = now.value(field.first);
        if (field.first == QLatin1String("extreme")
                ? !extremeHolds(field.second, current, signedFields.value(QStringLiteral("alarm")))
                : current != field.second || !now.has(field.first))
            return QStringLiteral("its alarm event's %1 is \"%2\", signed as \"%3\"")
                .arg(field.first, current.left(80), field.second.left(80));
    }
    return QString();
}

AuditVerifier::Check SignatureCheck::make(const QHash<QString, RecordCheck>& given)
{
    QHash<QString, RecordCheck> checks = given;
    checks.insert(SignedRecord::alarmEventKind(), &SignatureCheck::alarmEventProblem);
    checks.insert(ReportApprovalTable::recordKind(), &ReportApprovalTable::signedRecordProblem);
    checks.insert(AuditReviewTable::recordKind(), &AuditReviewTable::signedRecordProblem);
    checks.insert(AlarmSuppressionTable::shelveRecordKind(),
                  &AlarmSuppressionTable::signedRecordProblem);
    checks.insert(AlarmSuppressionTable::outOfServiceRecordKind(),
                  &AlarmSuppressionTable::signedRecordProblem);
    checks.insert(UserChangeSignature::recordKind(), &UserChangeSignature::signedRecordProblem);
    checks.insert(CalibrationTable::recordKind(), &CalibrationTable::signedRecordProblem);
    checks.insert(AlarmTestTable::recordKind(), &AlarmTestTable::signedRecordProblem);
    // The "signed" entries of the chain, by sequence.
    auto entries = std::make_shared<QHash<qint64, AuditEntry>>();
    AuditVerifier::Check check;
    check.entry = [entries](const AuditEntry& entry) {
        if (entry.action == SignatureTable::signedAction())
            entries->insert(entry.sequence, entry);
    };
    check.finish = [entries, checks](SqliteHandle db, AuditVerifier::Result* result) {
        int count = 0;
        int recordsChecked = 0;
        QStringList findings;
        QSet<qint64> seen;
        QString error;
        const bool read = SignatureTable::forEach(
            db,
            [&](const ElectronicSignature& s) {
                ++count;
                const QString name = signatureText(s);
                const AuditEntry expected = SignatureTable::entryOf(s);
                const auto entry = entries->constFind(s.auditSequence);
                if (entry == entries->constEnd()) {
                    findings << name + QStringLiteral(": its audit entry %1 is not a signature")
                                           .arg(s.auditSequence);
                    return;
                }
                seen.insert(s.auditSequence);
                if (entry->timeMs != expected.timeMs || entry->user != expected.user ||
                    entry->object != expected.object || entry->newValue != expected.newValue ||
                    entry->reason != expected.reason) {
                    findings << name + QStringLiteral(": it differs from its audit entry %1")
                                           .arg(s.auditSequence);
                    return;
                }
                SignedRecord fields;
                if (!SignedRecord::parse(s.recordFields, &fields) || fields.kind != s.recordKind ||
                    fields.id != s.recordId || fields.hash() != s.recordHash) {
                    findings << name + QStringLiteral(": its record's fields do not hash to the "
                                                      "hash it keeps");
                    return;
                }
                const RecordCheck recordCheck = checks.value(s.recordKind);
                if (!recordCheck)
                    return;
                ++recordsChecked;
                const QString problem = recordCheck(db, fields);
                if (!problem.isEmpty())
                    findings << name + QStringLiteral(": ") + problem;
            },
            &error);
        if (!read) {
            result->findings << QStringLiteral("the signatures could not be read: ") + error;
            return;
        }
        for (auto it = entries->constBegin(); it != entries->constEnd(); ++it) {
            if (!seen.contains(it.key()))
                findings << QStringLiteral("audit entry %1 records a signature (%2) that is "
                                           "missing")
                                .arg(it.key())
                                .arg(it->object.left(80));
        }
        result->checked << QStringLiteral("Signatures: %1 checked against their audit entries "
                                          "and hashes, %2 against their records")
                               .arg(count)
                               .arg(recordsChecked);
        result->findings << findings;
    };
    return check;
}
