#include "writejob.h"

#include "alarmeventtable.h"
#include "alarmeventwrite.h"
#include "alarmsuppressiontable.h"
#include "alarmtesttable.h"
#include "audittrail.h"
#include "calibrationtable.h"
#include "outboxtable.h"
#include "projectfilecopy.h"
#include "reportrunrecord.h"
#include "reportruntable.h"
#include "sampleseal.h"
#include "sampletable.h"
#include "signaturetable.h"
#include "sqlitestatement.h"
#include "usertable.h"

#include <QDataStream>
#include <QDebug>
#include <QIODevice>

#include <sqlite3.h>

namespace {

// Fixed, so that a journal written by this version reads the same in later ones.
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

// Sets a named value of the state table; the table is made when missing.
bool setState(sqlite3* db, const QString& name, qint64 value, QString* error)
{
    if (sqlite3_exec(db, SampleTable::createStateStatement().toUtf8().constData(), nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return fail(db, error);
    const QByteArray sql = QByteArray("insert into ") + SampleTable::stateName().toUtf8() +
                           " (name, value) values (?, ?) on conflict (name) do update set value "
                           "= excluded.value";
    SqliteStatement s(db, sql);
    if (!s.isValid())
        return fail(db, error);
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.get(), 1, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s.get(), 2, value);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

} // namespace

QString WriteJob::forwardPositionName(const QString& target)
{
    return QStringLiteral("forward ") + target;
}

WriteJob WriteJob::forwardPosition(const QString& target, qint64 position)
{
    return {ForwardPosition, {target, position}};
}

WriteJob WriteJob::alarmEvent(const AlarmEventWrite& write)
{
    return {AlarmEvent, write.toValues()};
}

WriteJob WriteJob::outboxAdd(const OutboxRecord& r)
{
    QVariantList values{r.messageId, r.eventId, r.kind,         r.target,
                        r.body,      r.created, r.nextAttemptMs};
    // A report's PDF rides with it; the jobs of other messages keep the seven values every
    // version reads.
    if (!r.attachmentName.isEmpty())
        values << r.attachmentName << r.attachment;
    return {OutboxAdd, values};
}

WriteJob WriteJob::outboxAttempt(const QString& messageId, const QString& target, int attempts,
                                 qint64 nextAttemptMs, const QString& lastError)
{
    return {OutboxAttempt, {messageId, target, attempts, nextAttemptMs, lastError}};
}

WriteJob WriteJob::outboxSent(const QString& messageId, const QString& target, qint64 sentAt)
{
    return {OutboxSent, {messageId, target, sentAt}};
}

WriteJob WriteJob::outboxSuperseded(const QString& messageId, const QString& target, qint64 at)
{
    return {OutboxSuperseded, {messageId, target, at}};
}

WriteJob WriteJob::outboxPrune(qint64 sentBefore)
{
    return {OutboxPrune, {sentBefore}};
}

namespace {

// An audit entry's values as the jobs that write one carry them, in this order.
constexpr int EntryValueCount = 7;

QVariantList entryValues(const AuditEntry& e)
{
    return {e.timeMs, e.user, e.action, e.object, e.oldValue, e.newValue, e.reason};
}

AuditEntry entryFromValues(const QVariantList& values, int first)
{
    AuditEntry e;
    e.timeMs = values.at(first).toLongLong();
    e.user = values.at(first + 1).toString();
    e.action = values.at(first + 2).toString();
    e.object = values.at(first + 3).toString();
    e.oldValue = values.at(first + 4).toString();
    e.newValue = values.at(first + 5).toString();
    e.reason = values.at(first + 6).toString();
    return e;
}

} // namespace

WriteJob WriteJob::auditRecord(const AuditEntry& e, const QByteArray& projectFile)
{
    QVariantList values = entryValues(e);
    if (!projectFile.isNull())
        values << projectFile;
    return {AuditRecord, values};
}

WriteJob WriteJob::userChange(const ::UserChange& c)
{
    const UserRecord& r = c.row;
    const QVariantList row{r.name,     r.role,          r.passwordHash,
                           r.disabled, r.failedSignIns, r.waitUntilMs};
    // The full name goes last: a spill journal written before it existed still reads.
    return {UserChange, row + entryValues(c.entry) + QVariantList{r.fullName}};
}

WriteJob WriteJob::suppressionStart(const ::AlarmSuppression& r)
{
    return {AlarmSuppression,
            {QStringLiteral("start"), r.id, ::AlarmSuppression::kindText(r.kind), r.serial,
             r.channel, r.from, r.until, r.reason, r.user}};
}

WriteJob WriteJob::suppressionEnd(qint64 id, qint64 endedTime)
{
    return {AlarmSuppression, {QStringLiteral("end"), id, endedTime}};
}

WriteJob WriteJob::calibration(const CalibrationRecord& r, const ElectronicSignature* signature)
{
    const auto number = [](const std::optional<double>& value) {
        return value ? QVariant(*value) : QVariant();
    };
    QVariantList values{QStringLiteral("entry"),
                        r.id,
                        r.serial,
                        r.column,
                        r.certificate,
                        r.laboratory,
                        CalibrationRecord::dateText(r.calibrated),
                        CalibrationRecord::dateText(r.due),
                        r.reference,
                        number(r.asFound),
                        number(r.asLeft),
                        r.uncertainty,
                        r.certificateFile,
                        r.enteredBy,
                        r.enteredAt};
    if (signature)
        values += WriteJob::signature(*signature).values;
    return {Calibration, values};
}

WriteJob WriteJob::reportRun(const ReportRunRecord& r)
{
    return {ReportRun,
            {r.kind, r.first.toString(Qt::ISODate), r.last.toString(Qt::ISODate), r.dueMs,
             r.madeMs, r.state, r.late, r.attempts, r.error}};
}

WriteJob WriteJob::calibrationReminder(qint64 id, int daysBefore, qint64 at)
{
    return {Calibration, {QStringLiteral("reminder"), id, daysBefore, at}};
}

WriteJob WriteJob::alarmTest(const QVector<AlarmTestRecord>& rows,
                             const ElectronicSignature* signature)
{
    QVariantList values{QStringLiteral("test"), rows.size()};
    for (const AlarmTestRecord& r : rows)
        values << r.testId << r.time << r.user << r.nodes << r.target << r.answer << r.text;
    if (signature)
        values += WriteJob::signature(*signature).values;
    return {AlarmTest, values};
}

WriteJob WriteJob::alarmTestState(const QString& name, qint64 value)
{
    return {AlarmTest, {QStringLiteral("state"), name, value}};
}

WriteJob WriteJob::signature(const ElectronicSignature& s)
{
    return {Signature,
            {s.timeMs, s.signer, s.fullName, s.meaning, s.recordKind, s.recordId, s.recordFields,
             s.recordHash}};
}

WriteJob WriteJob::sampleSeal(qint64 quarter, qint64 timeMs)
{
    return {SampleSeal, {quarter, timeMs, false}};
}

WriteJob WriteJob::sampleSealCatchUp(qint64 throughQuarter, qint64 timeMs)
{
    return {SampleSeal, {throughQuarter, timeMs, true}};
}

bool WriteJob::sealsQuarter(qint64* quarter) const
{
    if (kind != SampleSeal || values.size() != 3 || values.at(2).toBool())
        return false;
    *quarter = values.at(0).toLongLong();
    return true;
}

namespace {

bool countIs(const QVariantList& values, int count, const char* what, QString* error)
{
    if (values.size() == count)
        return true;
    *error = QString::fromLatin1(what) + QStringLiteral(": ") + QString::number(count) +
             QStringLiteral(" values expected");
    return false;
}

ElectronicSignature signatureFromValues(const QVariantList& values, int first)
{
    ElectronicSignature s;
    s.timeMs = values.at(first).toLongLong();
    s.signer = values.at(first + 1).toString();
    s.fullName = values.at(first + 2).toString();
    s.meaning = values.at(first + 3).toString();
    s.recordKind = values.at(first + 4).toString();
    s.recordId = values.at(first + 5).toString();
    s.recordFields = values.at(first + 6).toByteArray();
    s.recordHash = values.at(first + 7).toByteArray();
    return s;
}

constexpr int CalibrationValueCount = 15;
constexpr int SignatureValueCount = 8;

std::optional<double> optionalNumber(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

bool runCalibration(sqlite3* db, const QVariantList& values, qint64* rowId, QString* error)
{
    const QString op = values.value(0).toString();
    if (op == QLatin1String("reminder"))
        return countIs(values, 4, "calibration reminder", error) &&
               CalibrationTable::noteReminder(db, values.at(1).toLongLong(), values.at(2).toInt(),
                                              values.at(3).toLongLong(), error);
    const bool signedEntry = values.size() == CalibrationValueCount + SignatureValueCount;
    if (op != QLatin1String("entry")) {
        *error = QStringLiteral("calibration: values no version wrote");
        return false;
    }
    if (!signedEntry && !countIs(values, CalibrationValueCount, "calibration entry", error))
        return false;
    CalibrationRecord r;
    r.id = values.at(1).toLongLong();
    r.serial = values.at(2).toString();
    r.column = values.at(3).toString();
    r.certificate = values.at(4).toString();
    r.laboratory = values.at(5).toString();
    r.calibrated = CalibrationRecord::dateFromText(values.at(6).toString());
    r.due = CalibrationRecord::dateFromText(values.at(7).toString());
    r.reference = values.at(8).toString();
    r.asFound = optionalNumber(values.at(9));
    r.asLeft = optionalNumber(values.at(10));
    r.uncertainty = values.at(11).toDouble();
    r.certificateFile = values.at(12).toString();
    r.enteredBy = values.at(13).toString();
    r.enteredAt = values.at(14).toLongLong();
    *rowId = r.id;
    // A row no caller could have made (a journal changed by hand) would fail every retry and
    // hold back the samples behind it: it is left out, said loudly.
    const QString problem = r.problem();
    if (!problem.isEmpty()) {
        qWarning().noquote() << "Calibration entry" << r.id << "not written:" << problem;
        return true;
    }
    QVector<CalibrationRecord> written;
    if (!CalibrationTable::all(db, &written, error))
        return false;
    for (const CalibrationRecord& other : qAsConst(written)) {
        if (other.id == r.id)
            return true; // a journal replayed: it and its signature are in already
    }
    if (signedEntry) {
        ElectronicSignature s = signatureFromValues(values, CalibrationValueCount);
        if (!SignatureTable::insert(db, &s, error))
            return false;
        r.signatureId = s.id;
    }
    return CalibrationTable::insert(db, r, error);
}

constexpr int AlarmTestValueCount = 7;
// More targets than any settings hold: a count beyond it was not written by this program.
constexpr int MaxAlarmTestRows = 64;

bool runAlarmTest(sqlite3* db, const QVariantList& values, qint64* rowId, QString* error)
{
    const QString op = values.value(0).toString();
    if (op == QLatin1String("state"))
        return countIs(values, 3, "alarm test state", error) &&
               AlarmTestTable::setState(db, values.at(1).toString(), values.at(2).toLongLong(),
                                        error);
    const int count = values.value(1).toInt();
    const int plain = 2 + count * AlarmTestValueCount;
    if (op != QLatin1String("test") || count < 1 || count > MaxAlarmTestRows ||
        (values.size() != plain && values.size() != plain + SignatureValueCount)) {
        *error = QStringLiteral("alarm test: values no version wrote");
        return false;
    }
    QVector<AlarmTestRecord> rows;
    for (int i = 0; i < count; ++i) {
        const int at = 2 + i * AlarmTestValueCount;
        AlarmTestRecord r;
        r.testId = values.at(at).toLongLong();
        r.time = values.at(at + 1).toLongLong();
        r.user = values.at(at + 2).toString();
        r.nodes = values.at(at + 3).toString();
        r.target = values.at(at + 4).toString();
        r.answer = values.at(at + 5).toString();
        r.text = values.at(at + 6).toString();
        const QString problem = r.problem();
        // As for a calibration entry: a row no caller could have made is left out, loudly,
        // rather than holding back the samples behind it.
        if (!problem.isEmpty() || r.testId != values.at(2).toLongLong()) {
            qWarning().noquote() << "Alarm test" << r.testId << "not written:" << problem;
            return true;
        }
        rows.append(r);
    }
    *rowId = rows.first().testId;
    QVector<AlarmTestRecord> written;
    if (!AlarmTestTable::all(db, &written, error))
        return false;
    for (const AlarmTestRecord& other : qAsConst(written)) {
        if (other.testId == rows.first().testId)
            return true; // a journal replayed: the test and its signature are in already
    }
    if (values.size() == plain + SignatureValueCount) {
        ElectronicSignature s = signatureFromValues(values, plain);
        if (!SignatureTable::insert(db, &s, error))
            return false;
        for (AlarmTestRecord& r : rows)
            r.signatureId = s.id;
    }
    return AlarmTestTable::insert(db, rows, error);
}

} // namespace

bool WriteJob::run(SqliteHandle db, qint64* rowId, QString* error) const
{
    *rowId = 0;
    switch (kind) {
    case AlarmEvent: {
        AlarmEventWrite write;
        if (!AlarmEventWrite::fromValues(values, &write)) {
            *error = QStringLiteral("alarm event: values no version wrote");
            return false;
        }
        return AlarmEventTable::apply(db, write, error);
    }
    case AlarmSuppression: {
        const QString op = values.value(0).toString();
        if (op == QLatin1String("end"))
            return countIs(values, 3, "suppression end", error) &&
                   AlarmSuppressionTable::endEarly(db, values.at(1).toLongLong(),
                                                   values.at(2).toLongLong(), error);
        if (!countIs(values, 9, "suppression start", error))
            return false;
        const auto rowKind = ::AlarmSuppression::kindFromText(values.at(2).toString());
        if (op != QLatin1String("start") || !rowKind) {
            *error = QStringLiteral("suppression: values no version wrote");
            return false;
        }
        ::AlarmSuppression r;
        r.id = values.at(1).toLongLong();
        r.kind = *rowKind;
        r.serial = values.at(3).toString();
        r.channel = values.at(4).toInt();
        r.from = values.at(5).toLongLong();
        r.until = values.at(6).toLongLong();
        r.reason = values.at(7).toString();
        r.user = values.at(8).toString();
        return AlarmSuppressionTable::insert(db, r, error);
    }
    case OutboxAdd: {
        if (values.size() != 9 && !countIs(values, 7, "outbox message", error))
            return false;
        OutboxRecord r;
        r.messageId = values.at(0).toString();
        r.eventId = values.at(1).toLongLong();
        r.kind = values.at(2).toString();
        r.target = values.at(3).toString();
        r.body = values.at(4).toString();
        r.created = values.at(5).toLongLong();
        r.nextAttemptMs = values.at(6).toLongLong();
        if (values.size() == 9) {
            r.attachmentName = values.at(7).toString();
            r.attachment = values.at(8).toByteArray();
        }
        return OutboxTable::add(db, r, error);
    }
    case OutboxAttempt:
        return countIs(values, 5, "outbox attempt", error) &&
               OutboxTable::noteAttempt(db, values.at(0).toString(), values.at(1).toString(),
                                        values.at(2).toInt(), values.at(3).toLongLong(),
                                        values.at(4).toString(), error);
    case OutboxSent:
        return countIs(values, 3, "outbox sent", error) &&
               OutboxTable::markSent(db, values.at(0).toString(), values.at(1).toString(),
                                     values.at(2).toLongLong(), error);
    case OutboxSuperseded:
        return countIs(values, 3, "outbox superseded", error) &&
               OutboxTable::markSuperseded(db, values.at(0).toString(), values.at(1).toString(),
                                           values.at(2).toLongLong(), error);
    case OutboxPrune:
        return countIs(values, 1, "outbox prune", error) &&
               OutboxTable::pruneSentBodies(db, values.at(0).toLongLong(), error);
    case AuditRecord: {
        // Journals written before copies were kept hold the entry alone.
        const bool withCopy = values.size() == EntryValueCount + 1;
        if (!withCopy && !countIs(values, EntryValueCount, "audit entry", error))
            return false;
        AuditEntry e = entryFromValues(values, 0);
        if (!AuditTrail::append(db, &e, error))
            return false;
        if (withCopy && !ProjectFileCopy::store(db, e.sequence, values.last().toByteArray(), error))
            return false;
        *rowId = e.sequence;
        return true;
    }
    case SampleSeal: {
        if (!countIs(values, 3, "sample seal", error))
            return false;
        const qint64 quarter = values.at(0).toLongLong();
        const qint64 timeMs = values.at(1).toLongLong();
        if (values.at(2).toBool())
            return ::SampleSeal::catchUp(db, quarter, timeMs, error);
        if (!::SampleSeal::seal(db, quarter, timeMs, QString(), error))
            return false;
        std::optional<AuditEntry> head;
        if (!AuditTrail::head(db, &head, error))
            return false;
        *rowId = head ? head->sequence : 0;
        return true;
    }
    case UserChange: {
        if (values.size() != 6 + EntryValueCount &&
            !countIs(values, 7 + EntryValueCount, "user change", error))
            return false;
        ::UserChange c;
        c.row.name = values.at(0).toString();
        c.row.role = values.at(1).toString();
        c.row.passwordHash = values.at(2).toByteArray();
        c.row.disabled = values.at(3).toBool();
        c.row.failedSignIns = values.at(4).toInt();
        c.row.waitUntilMs = values.at(5).toLongLong();
        c.entry = entryFromValues(values, 6);
        if (values.size() > 6 + EntryValueCount)
            c.row.fullName = values.at(6 + EntryValueCount).toString();
        if (!UserTable::apply(db, &c, error))
            return false;
        *rowId = c.entry.sequence;
        return true;
    }
    case Calibration:
        return runCalibration(db, values, rowId, error);
    case AlarmTest:
        return runAlarmTest(db, values, rowId, error);
    case ReportRun: {
        if (!countIs(values, 9, "report run", error))
            return false;
        ReportRunRecord r;
        r.kind = values.at(0).toString();
        r.first = QDate::fromString(values.at(1).toString(), Qt::ISODate);
        r.last = QDate::fromString(values.at(2).toString(), Qt::ISODate);
        r.dueMs = values.at(3).toLongLong();
        r.madeMs = values.at(4).toLongLong();
        r.state = values.at(5).toString();
        r.late = values.at(6).toBool();
        r.attempts = values.at(7).toInt();
        r.error = values.at(8).toString().left(ReportRunRecord::MaxErrorLength);
        *rowId = 0;
        // A row no version writes would hold up every write after it: left out, traced.
        const QString problem = r.problem();
        if (!problem.isEmpty()) {
            qWarning().noquote() << "Report run" << r.key() << "not written:" << problem;
            return true;
        }
        return ReportRunTable::put(db, r, error);
    }
    case Signature: {
        if (!countIs(values, SignatureValueCount, "signature", error))
            return false;
        ElectronicSignature s = signatureFromValues(values, 0);
        if (!SignatureTable::insert(db, &s, error))
            return false;
        *rowId = s.id;
        return true;
    }
    case ForwardPosition:
        if (values.size() != 2) {
            *error = QStringLiteral("forward position: two values expected");
            return false;
        }
        return setState(db, forwardPositionName(values.at(0).toString()), values.at(1).toLongLong(),
                        error);
    case None:
        break;
    }
    *error = QStringLiteral("unknown write kind ") + QString::number(kind);
    return false;
}

QByteArray WriteJob::encodedValues() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << values;
    return bytes;
}

bool WriteJob::decodeValues(const QByteArray& bytes, QVariantList* values)
{
    QDataStream in(bytes);
    in.setVersion(StreamVersion);
    in >> *values;
    return in.status() == QDataStream::Ok && in.atEnd();
}
