#include "sampleconnection.h"

#include "alarmeventtable.h"
#include "audittrail.h"
#include "kinetictable.h"
#include "novalue.h"
#include "sampletable.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "summaryrepair.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace {

bool isValue(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) != SQLITE_NULL &&
           sqlite3_column_double(statement, column) != NoValue;
}

void readRow(sqlite3_stmt* statement, StoredRow* row)
{
    row->id = sqlite3_column_int64(statement, 0);
    row->serial = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    row->serialLength = sqlite3_column_bytes(statement, 1);
    for (int c = 0; c < 2; ++c) {
        row->present[c] = isValue(statement, 2 + c);
        row->value[c] = row->present[c] ? sqlite3_column_double(statement, 2 + c) : 0.0;
    }
    row->time = sqlite3_column_int64(statement, 4);
}

} // namespace

SampleConnection::SampleConnection() = default;

SampleConnection::SampleConnection(const QString& databasePath, int busyTimeoutMs)
{
    open(databasePath, busyTimeoutMs);
}

SampleConnection::~SampleConnection()
{
    close();
}

bool SampleConnection::open(const QString& databasePath, int busyTimeoutMs)
{
    close();
    error.clear();
    // Read-only: a missing file fails here instead of being created, and SQLite itself refuses
    // every write on this connection.
    if (!connection.open(databasePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        error = connection.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection.get(), busyTimeoutMs);
    return true;
}

void SampleConnection::close()
{
    keptStatements.clear();
    connection.close();
}

const char* SampleConnection::rowColumns()
{
    return "select id, serialno, channel1, channel2, pointDate from quorbinal ";
}

void SampleConnection::bindText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_STATIC);
}

// what names the step for the viewer's messages; the reports take SQLite's text alone.
bool SampleConnection::fail(const char* what)
{
    const QString text = connection.lastError();
    error = what ? QString::fromUtf8(what) + QStringLiteral(": ") + text : text;
    return false;
}

bool SampleConnection::exists(const char* type, const QString& name)
{
    SqliteStatement s(connection.get(), "select 1 from sqlite_master where type = ? and name = ?");
    if (!s.isValid())
        return fail("prepare");
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.get(), 1, type, -1, SQLITE_STATIC);
    bindText(s.get(), 2, utf8);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("step");
    return rc == SQLITE_ROW;
}

bool SampleConnection::hasTable()
{
    return exists("table", QStringLiteral("quorbinal"));
}

bool SampleConnection::hasAlarmEvents()
{
    return exists("table", AlarmEventTable::tableName());
}

bool SampleConnection::auditHead(std::optional<AuditEntry>* head)
{
    head->reset();
    if (!isOpen())
        return false; // errorText() says why it did not open
    QString text;
    if (AuditTrail::head(handle(), head, &text))
        return true;
    setError(text);
    return false;
}

bool SampleConnection::alarmSignatures(QHash<qint64, QString>* out)
{
    out->clear();
    QHash<QString, ElectronicSignature> signatures;
    QString text;
    if (!SignatureTable::forKind(connection.get(), SignedRecord::alarmEventKind(), &signatures,
                                 &text)) {
        error = text;
        return false;
    }
    for (auto it = signatures.cbegin(); it != signatures.cend(); ++it) {
        bool ok = false;
        const qint64 id = it.key().toLongLong(&ok);
        if (ok)
            out->insert(id, it.value().manifestation());
    }
    return true;
}

bool SampleConnection::alarmEvents(qint64 from, qint64 to, const QStringList& serials,
                                   QVector<AlarmEventRecord>* out)
{
    out->clear();
    AlarmEventFilter filter;
    filter.from = from;
    filter.to = to;
    // Every event of the range: a report or an export that lost some would hide a deviation.
    filter.limit = std::numeric_limits<int>::max();
    QString text;
    if (!AlarmEventTable::list(connection.get(), filter, out, &text)) {
        error = text;
        return false;
    }
    if (!serials.isEmpty())
        out->erase(std::remove_if(out->begin(), out->end(),
                                  [&serials](const AlarmEventRecord& r) {
                                      return !serials.contains(r.serial);
                                  }),
                   out->end());
    std::sort(out->begin(), out->end(), [](const AlarmEventRecord& a, const AlarmEventRecord& b) {
        return a.start != b.start ? a.start < b.start : a.id < b.id;
    });
    return true;
}

bool SampleConnection::hasIndex()
{
    SqliteStatement s(connection.get(), SampleTable::indexPresentQuery().toUtf8());
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW)
        return fail(nullptr);
    return sqlite3_column_int(s.get(), 0) > 0;
}

bool SampleConnection::hasSummary()
{
    return isOpen() && SummaryRepair::summaryUsable(connection.get());
}

bool SampleConnection::hasKinetic()
{
    return isOpen() && KineticTable::exists(connection.get());
}

bool SampleConnection::begin()
{
    if (isOpen() && sqlite3_exec(connection.get(), "begin", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    return fail(nullptr);
}

void SampleConnection::end()
{
    if (isOpen())
        sqlite3_exec(connection.get(), "commit", nullptr, nullptr, nullptr);
}

sqlite3_stmt* SampleConnection::kept(const QByteArray& sql)
{
    if (!isOpen()) {
        fail("prepare");
        return nullptr;
    }
    SqliteStatement& statement = keptStatements[sql];
    if (!statement.isValid() && !statement.prepare(connection.get(), sql))
        fail("prepare");
    return statement.get();
}

bool SampleConnection::rowsById(sqlite3_stmt* statement, const StoredRowSink& sink)
{
    StoredRow row;
    int rc = SQLITE_ROW;
    bool wanted = true;
    while (wanted && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        readRow(statement, &row);
        wanted = sink(row);
    }
    const bool ok = !wanted || rc == SQLITE_DONE;
    if (!ok)
        fail("step");
    // Resetting ends the statement's read transaction at once.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

// A row is handed on once the next one shows it is the last of its second. The held row's
// serial number is the one asked for: SQLite's buffer moves on with the next step.
bool SampleConnection::rowsByTime(sqlite3_stmt* statement, const QByteArray& serial,
                                  const StoredRowSink& sink)
{
    StoredRow held;
    StoredRow next;
    bool holding = false;
    int rc = SQLITE_ROW;
    bool wanted = true;
    while (wanted && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        readRow(statement, &next);
        next.serial = serial.constData();
        next.serialLength = int(serial.size());
        if (holding && next.time != held.time)
            wanted = sink(held);
        held = next;
        holding = true;
    }
    const bool ok = !wanted || rc == SQLITE_DONE;
    if (ok && wanted && holding)
        sink(held);
    if (!ok)
        fail("step");
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

qint64 SampleConnection::idBound(const char* sql)
{
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid()) {
        fail("prepare");
        return -1;
    }
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW)
        return sqlite3_column_type(s.get(), 0) != SQLITE_NULL ? sqlite3_column_int64(s.get(), 0)
                                                              : 0;
    return -1;
}

qint64 SampleConnection::maxId()
{
    return idBound("select max(id) from quorbinal");
}

qint64 SampleConnection::smallestFrom(const char* sql, qint64 time)
{
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid()) {
        fail("prepare");
        return -1;
    }
    sqlite3_bind_int64(s.get(), 1, time);
    if (sqlite3_step(s.get()) != SQLITE_ROW) {
        fail("step");
        return -1;
    }
    return sqlite3_column_type(s.get(), 0) != SQLITE_NULL ? sqlite3_column_int64(s.get(), 0) : 0;
}
