#include "samplestore.h"

#include "sampletable.h"

#include <QFile>

#include <sqlite3.h>

namespace {

constexpr int BusyTimeoutMs = 2000;

const char* const RowColumns = "select id, serialno, channel1, channel2, pointDate from quorbinal ";

} // namespace

SampleStore::SampleStore() = default;

SampleStore::~SampleStore()
{
    close();
}

bool SampleStore::open(const QString& path)
{
    close();
    const QByteArray file = QFile::encodeName(path);
    sqlite3* db = nullptr;
    // Read-only: SQLite itself refuses every write on this connection.
    const int rc =
        sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        m_error = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return false;
    }
    m_db = db;
    // A file without WAL is locked for the moment a recorder commits; wait that out.
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    return true;
}

void SampleStore::close()
{
    for (sqlite3_stmt** s :
         {&m_nodeRows, &m_nodeRowsInIds, &m_idRows, &m_idRowsDescending, &m_row}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool SampleStore::fail(const char* what)
{
    m_error = QString::fromUtf8(what) + QStringLiteral(": ") +
              QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "not open");
    return false;
}

sqlite3_stmt* SampleStore::prepare(sqlite3_stmt** slot, const char* sql)
{
    if (!m_db)
        return nullptr;
    if (!*slot && sqlite3_prepare_v2(m_db, sql, -1, slot, nullptr) != SQLITE_OK) {
        fail("prepare");
        sqlite3_finalize(*slot);
        *slot = nullptr;
    }
    return *slot;
}

bool SampleStore::run(sqlite3_stmt* statement, const SampleSink& sink)
{
    SampleRow row;
    int rc = SQLITE_ROW;
    bool wanted = true;
    while (wanted && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        row.id = sqlite3_column_int64(statement, 0);
        row.serial = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        row.serialLength = sqlite3_column_bytes(statement, 1);
        for (int c = 0; c < 2; ++c) {
            row.present[c] = sqlite3_column_type(statement, 2 + c) != SQLITE_NULL;
            row.value[c] = row.present[c] ? sqlite3_column_double(statement, 2 + c) : 0.0;
        }
        row.time = sqlite3_column_int64(statement, 4);
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

bool SampleStore::single(sqlite3_stmt* statement, qint64* value)
{
    const int rc = sqlite3_step(statement);
    bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (!ok)
        fail("step");
    else if (rc == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
        *value = sqlite3_column_int64(statement, 0);
    else
        ok = false;
    sqlite3_finalize(statement);
    return ok;
}

bool SampleStore::hasTable()
{
    sqlite3_stmt* s = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db,
                                    "select 1 from sqlite_master where type = 'table' and name = "
                                    "'quorbinal'",
                                    -1, &s, nullptr) != SQLITE_OK)
        return fail("prepare");
    qint64 one = 0;
    return single(s, &one);
}

bool SampleStore::hasIndex()
{
    sqlite3_stmt* s = nullptr;
    if (!m_db ||
        sqlite3_prepare_v2(m_db, "select 1 from sqlite_master where type = 'index' and name = ?",
                           -1, &s, nullptr) != SQLITE_OK)
        return fail("prepare");
    const QByteArray name = SampleTable::indexName().toUtf8();
    sqlite3_bind_text(s, 1, name.constData(), name.size(), SQLITE_TRANSIENT);
    qint64 one = 0;
    return single(s, &one);
}

bool SampleStore::recordedPeriod(qint64* first, qint64* last)
{
    const QByteArray sql = SampleTable::recordedPeriodQuery(hasIndex()).toUtf8();
    sqlite3_stmt* s = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql.constData(), -1, &s, nullptr) != SQLITE_OK)
        return fail("prepare");
    const int rc = sqlite3_step(s);
    bool ok = rc == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL;
    if (ok) {
        *first = sqlite3_column_int64(s, 0);
        *last = sqlite3_column_int64(s, 1);
    } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fail("step");
    }
    sqlite3_finalize(s);
    return ok;
}

qint64 SampleStore::maxId()
{
    return idBound("select max(id) from quorbinal");
}

qint64 SampleStore::minId()
{
    return idBound("select min(id) from quorbinal");
}

qint64 SampleStore::idBound(const char* sql)
{
    sqlite3_stmt* s = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr) != SQLITE_OK) {
        fail("prepare");
        return -1;
    }
    qint64 id = 0;
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL)
        id = sqlite3_column_int64(s, 0);
    else if (rc != SQLITE_ROW)
        id = -1;
    sqlite3_finalize(s);
    return id;
}

bool SampleStore::row(qint64 id, const SampleSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) + "where id = ?";
    sqlite3_stmt* s = prepare(&m_row, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, id);
    bool found = false;
    const bool ok = run(s, [&](const SampleRow& r) {
        found = true;
        return sink(r);
    });
    return ok && found;
}

bool SampleStore::nodeRows(const QByteArray& serial, qint64 from, qint64 to, const SampleSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) +
                           "where serialno = ?1 and pointDate between ?2 and ?3 "
                           "order by pointDate, id";
    sqlite3_stmt* s = prepare(&m_nodeRows, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_text(s, 1, serial.constData(), serial.size(), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, from);
    sqlite3_bind_int64(s, 3, to);
    return run(s, sink);
}

bool SampleStore::nodeRowsInIds(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                                qint64 lastId, const SampleSink& sink)
{
    // "+serialno" keeps the planner on the id range even when the range index exists: the ids
    // were chosen because they are the short way.
    const QByteArray sql = QByteArray(RowColumns) +
                           "where id between ?4 and ?5 and +serialno = ?1 and pointDate between "
                           "?2 and ?3 order by pointDate, id";
    sqlite3_stmt* s = prepare(&m_nodeRowsInIds, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_text(s, 1, serial.constData(), serial.size(), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, from);
    sqlite3_bind_int64(s, 3, to);
    sqlite3_bind_int64(s, 4, firstId);
    sqlite3_bind_int64(s, 5, lastId);
    return run(s, sink);
}

bool SampleStore::idRows(qint64 firstId, qint64 lastId, bool descending, const SampleSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) + "where id between ?1 and ?2 order by id" +
                           (descending ? " desc" : "");
    sqlite3_stmt* s = prepare(descending ? &m_idRowsDescending : &m_idRows, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, firstId);
    sqlite3_bind_int64(s, 2, lastId);
    return run(s, sink);
}

bool SampleStore::serials(QList<QByteArray>* out)
{
    const char* sql =
        hasIndex()
            ? "with recursive node(serial) as ("
              " select (select min(serialno) from quorbinal)"
              " union all"
              " select (select min(serialno) from quorbinal where serialno > node.serial) from node"
              " where node.serial is not null)"
              " select serial from node where serial is not null"
            : "select distinct serialno from quorbinal";
    sqlite3_stmt* s = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr) != SQLITE_OK)
        return fail("prepare");
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        out->append(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                               sqlite3_column_bytes(s, 0)));
    sqlite3_finalize(s);
    return rc == SQLITE_DONE || fail("step");
}
