#include "kineticsums.h"

#include "insertstatements.h"
#include "novalue.h"
#include "sampletable.h"

#include <sqlite3.h>

bool KineticSums::prepare(SqliteHandle db)
{
    if (upsert.isValid())
        return true;
    if (missing)
        return false;
    const QByteArray read = QByteArray("select ") + KineticTable::columns(QString()).toUtf8() +
                            " from quorbinal_kinetic where serialno = ? and bucket = ?";
    if (!KineticTable::exists(db) || !select.prepare(db, read) ||
        !upsert.prepare(db, KineticTable::upsertStatement())) {
        select.finalize();
        upsert.finalize();
        missing = true;
        return false;
    }
    return true;
}

void KineticSums::add(SqliteHandle db, const SampleRecord& record)
{
    if (!prepare(db))
        return;
    const qint64 time = record.pointDate;
    const qint64 bucket = time / SampleTable::BucketSeconds;
    const QString serial = record.deviceNumber.isNull() ? QStringLiteral("") : record.deviceNumber;
    Node& node = nodes[serial];
    if (node.row.rows == 0 || node.row.bucket != bucket) {
        // The bucket left goes to the table first.
        if (node.changed && !writeRow(serial, node.row))
            failed = true;
        node.changed = false;
        node.row = KineticTable::Row();
        node.row.bucket = bucket;
        const QByteArray utf8 = serial.toUtf8();
        select.reset(true);
        sqlite3_bind_text(select.get(), 1, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(select.get(), 2, bucket);
        const int rc = sqlite3_step(select.get());
        if (rc == SQLITE_ROW)
            KineticTable::read(select.get(), 0, &node.row);
        else if (rc != SQLITE_DONE)
            KineticTable::breakRow(&node.row);
        select.reset();
    }
    const double v1 = InsertStatements::storedValue(record.channel1);
    const double v2 = InsertStatements::storedValue(record.channel2);
    KineticTable::addRow(&node.row, time, v1 != NoValue, v1, v2 != NoValue, v2);
    node.changed = true;
}

bool KineticSums::writeRow(const QString& serial, const KineticTable::Row& row)
{
    const QByteArray utf8 = serial.toUtf8();
    upsert.reset(true);
    sqlite3_bind_text(upsert.get(), 1, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    KineticTable::bind(upsert.get(), row);
    const bool ok = sqlite3_step(upsert.get()) == SQLITE_DONE;
    upsert.reset();
    return ok;
}

bool KineticSums::write(SqliteHandle db)
{
    bool ok = !failed;
    for (auto it = nodes.begin(); it != nodes.end(); ++it) {
        if (!it->changed)
            continue;
        it->changed = false;
        ok = ok && prepare(db) && writeRow(it.key(), it->row);
    }
    if (!ok)
        clear();
    failed = false;
    // A file without the table is asked again every RecheckTransactions: the background build
    // may have made it meanwhile. Until then the buckets written read as rows in the reports.
    if (missing && ++sinceMissing >= RecheckTransactions) {
        missing = false;
        sinceMissing = 0;
    }
    return ok;
}

void KineticSums::rollback()
{
    nodes.clear();
    failed = false;
    // The table may have come meanwhile (the background build).
    missing = false;
}

void KineticSums::clear()
{
    select.finalize();
    upsert.finalize();
    nodes.clear();
    missing = false;
}
