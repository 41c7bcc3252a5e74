#pragma once

#include "sampleconnection.h"
#include "storedrow.h"

#include <QByteArray>
#include <QList>

#include <vector>

// What the data viewer reads of a project's sample database: the rows it shows, by node and time
// or by id, and what it checks a summary and a cache of its own against. Opened as a
// SampleConnection (with ViewerBusyTimeoutMs: the viewer asks short questions).
class ViewerSampleReader : public SampleConnection
{
public:
    using SampleConnection::SampleConnection;

    // Smallest and largest pointDate; false on an empty table or a failed query.
    bool recordedPeriod(qint64* first, qint64* last);
    // Smallest row id, 0 for an empty table, -1 on failure.
    qint64 minId();
    // The row with this id; false when there is none.
    bool row(qint64 id, const StoredRowSink& sink);

    // One node's rows with pointDate in [from, to], in time order, through the range index.
    bool nodeRows(const QByteArray& serial, qint64 from, qint64 to, const StoredRowSink& sink);
    // One node's rows with pointDate in [from, to] among the rows with ids in [firstId, lastId],
    // in time order: the way to a time range on a file without the index, once the ids that
    // hold it are known.
    bool nodeRowsInIds(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                       qint64 lastId, const StoredRowSink& sink);
    // Rows with ids in [firstId, lastId], in id order (descending when asked), every one.
    bool idRows(qint64 firstId, qint64 lastId, bool descending, const StoredRowSink& sink);
    // The distinct serial numbers, through the index when there is one.
    bool serials(QList<QByteArray>* out);

    // --- What the viewer checks a summary of its own against ---

    // As nodeRows(), among the rows with ids in [firstId, lastId] only: of two rows in one
    // second the later of those counts. Needs the range index.
    bool nodeRowsWithin(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                        qint64 lastId, const StoredRowSink& sink);
    // What the recorder's summary says of each of its buckets: the rows written into it, and
    // whether one of them was deleted, changed or repeated a second. The serial numbers come once,
    // in ascending order; the marks name them by index, in (serial, bucket) order.
    struct BucketMark
    {
        int serial = 0;
        qint64 bucket = 0;
        qint64 rows = 0;
        bool dirty = false;
    };
    bool bucketMarks(QList<QByteArray>* serials, std::vector<BucketMark>* out);
    // What a block of rows is checked by: how many there are, the sums of their ids, seconds,
    // values (each in hundredths, cut towards zero) and serial number lengths, and their first and
    // last second. add() counts a row read by id as idDigest() counts it in SQL; the two differ
    // only for a block holding the no-value marker (which SQL sums as a value), whose digest is
    // then taken from SQL once.
    struct IdDigest
    {
        qint64 count = 0;
        qint64 idSum = 0;
        qint64 timeSum = 0;
        double valueSum[2] = {0, 0}; // whole numbers, exact below 2^53
        qint64 serialSum = 0;
        qint64 firstTime = 0;
        qint64 lastTime = 0;

        void add(const StoredRow& row);
        void merge(const IdDigest& other);
        bool operator==(const IdDigest& other) const;
    };
    // The digest of the rows with ids in [firstId, lastId].
    bool idDigest(qint64 firstId, qint64 lastId, IdDigest* out);
    // The file's schema with the root page of each table, index and trigger: it changes when one
    // of them is dropped or made again.
    bool schemaText(QByteArray* out);

    // --- Change marks, for a reader that keeps what it read (the viewer's cache) ---
    //
    // Beside its summary the recorder counts, per node and bucket (SampleTable::BucketSeconds
    // long, bucket = whole second / BucketSeconds), every row deleted, changed (any column,
    // the id too), replaced (REPLACE, also through UPDATE OR REPLACE ... SET id), or inserted
    // under an id at or below the largest one; never reset. Rows appended under new ids are
    // not counted: they are found by their ids. A reader that cached the rows up to some id
    // together with changeGeneration() and changedBuckets() knows on its next start: a
    // different generation (or 0) means the marks cannot tell what changed meanwhile (they
    // were missing for a while, or the file has none); otherwise every bucket whose count
    // differs from the cached one (new ones included) holds changed rows.

    struct ChangedBucket
    {
        QByteArray serial;
        qint64 bucket = 0;
        qint64 changeCount = 0; // > 0
    };
    // The marks' generation; 0 when the file keeps no marks to trust.
    qint64 changeGeneration();
    // The buckets with a non-zero count, ordered by serial number and bucket; false on a
    // failed query or when changeGeneration() is 0.
    bool changedBuckets(std::vector<ChangedBucket>* out);

private:
    // The kept statement of a node's rows in time order where `condition` holds, with serial ?1
    // and times ?2 and ?3 bound; null when it cannot be prepared.
    sqlite3_stmt* nodeStatement(const char* condition, const QByteArray& serial, qint64 from,
                                qint64 to);
    // A node's rows by time among those with ids in a range, by a condition binding serial ?1,
    // times ?2 and ?3 and ids ?4 and ?5.
    bool nodeRowsOfIds(const char* condition, const QByteArray& serial, qint64 from, qint64 to,
                       qint64 firstId, qint64 lastId, const StoredRowSink& sink);
};
