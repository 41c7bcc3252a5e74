#pragma once

#include "samplerow.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// A read-only connection to a project's sample database. Every question is one statement that
// is reset as soon as its rows are read, so no read transaction outlasts a query and a recorder
// appending to the file (in WAL mode) is never held up. The file is opened read-only: nothing
// here can change it, and the range index is used when the recorder has built it, never built.
class SampleStore
{
public:
    SampleStore();
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    bool open(const QString& path);
    void close();
    QString lastError() const { return m_error; }

    bool hasTable();
    // Asked again on each call: the recorder may build the index while the viewer is open.
    bool hasIndex();

    // Smallest and largest pointDate; false on an empty table or a failed query.
    bool recordedPeriod(qint64* first, qint64* last);
    // Largest row id, 0 for an empty table, -1 on failure.
    qint64 maxId();
    // Smallest row id, 0 for an empty table, -1 on failure.
    qint64 minId();
    // The row with this id; false when there is none.
    bool row(qint64 id, const SampleSink& sink);

    // One node's rows with pointDate in [from, to], in time order, through the range index.
    bool nodeRows(const QByteArray& serial, qint64 from, qint64 to, const SampleSink& sink);
    // One node's rows with pointDate in [from, to] among the rows with ids in [firstId, lastId],
    // in time order: the way to a time range on a file without the index, once the ids that
    // hold it are known.
    bool nodeRowsInIds(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                       qint64 lastId, const SampleSink& sink);
    // Rows with ids in [firstId, lastId], in id order (descending when asked).
    bool idRows(qint64 firstId, qint64 lastId, bool descending, const SampleSink& sink);
    // The distinct serial numbers, through the index when there is one.
    bool serials(QList<QByteArray>* out);

private:
    sqlite3_stmt* prepare(sqlite3_stmt** slot, const char* sql);
    bool run(sqlite3_stmt* statement, const SampleSink& sink);
    bool single(sqlite3_stmt* statement, qint64* value);
    qint64 idBound(const char* sql);
    bool fail(const char* what);

    sqlite3* m_db = nullptr;
    QString m_error;
    sqlite3_stmt* m_nodeRows = nullptr;
    sqlite3_stmt* m_nodeRowsInIds = nullptr;
    sqlite3_stmt* m_idRows = nullptr;
    sqlite3_stmt* m_idRowsDescending = nullptr;
    sqlite3_stmt* m_row = nullptr;
};
