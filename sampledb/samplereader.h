#pragma once

#include "alarmeventrecord.h"
#include "sampletable.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"
#include "storedrow.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <vector>

// A read-only connection to a project's sample database, for the report generator and the data
// viewer. The file is opened read-only: nothing here can change it, and the range index and the
// summary are used when the recorder has made them, never made here. A recorder may write
// meanwhile (WAL). Each thread opens its own reader.
//
// Every way to the rows follows the same two rules: NULL and the no-value marker are no value,
// and of two rows of one node in one second the later one counts. (Rows handed out by id, for a
// summary gathered in id order, keep every row: they are not in time order.)
class SampleReader
{
public:
    // How long a question waits for a recorder's commit on a file without WAL. The reports
    // read for seconds and must not fail on one commit; the viewer asks short questions.
    static constexpr int ReportBusyTimeoutMs = 5000;
    static constexpr int ViewerBusyTimeoutMs = 2000;

    SampleReader();
    // Opens at once; isOpen() tells whether it worked.
    explicit SampleReader(const QString& databasePath, int busyTimeoutMs = ReportBusyTimeoutMs);
    ~SampleReader();
    SampleReader(const SampleReader&) = delete;
    SampleReader& operator=(const SampleReader&) = delete;

    bool open(const QString& databasePath, int busyTimeoutMs = ReportBusyTimeoutMs);
    void close();
    bool isOpen() const { return connection.isOpen(); }
    const QString& errorText() const { return error; }

    // True when the sample table is there.
    bool hasTable();
    // Asked again on each call: the recorder may build the index while a reader is open.
    bool hasIndex();
    // True when the recorder's summary is there and exactly what the rows give: it and the
    // triggers that keep it are this version's, by their definitions. Otherwise the rows are
    // read (the recorder rebuilds it).
    bool hasSummary();

    // Statements between begin() and end() read one state of the file, whatever is written
    // meanwhile. Without them every question is one statement, reset as soon as its rows are
    // read, so that no read transaction outlasts a query and the recorder is never held up.
    bool begin();
    void end();

    // --- The reports ---

    struct Node
    {
        QString serial;
        bool channel1 = false;
        bool channel2 = false;
    };
    using Sink = std::function<void(int node, qint64 time, double channel1, double channel2)>;

    // Calls sink for the nodes' rows with time in [from, to], each node's in ascending time (a
    // time with a fraction counts in its whole second, as in the summary's buckets);
    // NoValue stands for no value and for a column not read. The nodes are read side by side, a
    // few hundred rows each in turn: their rows share the table's pages, which then stay in the
    // cache.
    bool read(const QVector<Node>& nodes, qint64 from, qint64 to, const Sink& sink);

    // Calls sink for the summary's buckets of a node from bucket `first` to bucket `last`, in
    // order.
    using BucketSink = std::function<void(const SampleTable::Bucket& bucket)>;
    bool readSummary(const QString& serial, qint64 first, qint64 last, const BucketSink& sink);

    struct ChannelSample
    {
        qint64 time;
        double value; // NoValue for no value
    };
    using ChannelSamples = std::vector<ChannelSample>;
    // The statement that reads channels of a node (each "channel1" or "channel2"): the serial
    // number, the first and the last second are bound in this order.
    static QString channelQuery(const QStringList& columns);
    // The channels' samples of a node with time in [from, to], in ascending time, one list per
    // column: one pass over the node's rows however many of its channels are asked for. rows
    // gets the number of table rows read, repeated seconds included.
    bool channelSamples(const QString& serial, const QStringList& columns, qint64 from, qint64 to,
                        std::vector<ChannelSamples>* out, qint64* rows);

    // --- The viewer ---

    // Smallest and largest pointDate; false on an empty table or a failed query.
    bool recordedPeriod(qint64* first, qint64* last);
    // Largest row id, 0 for an empty table, -1 on failure.
    qint64 maxId();
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

    // --- What the recorder's forwarder reads ---

    // Up to `limit` rows with ids above `afterId`, in id order, every one.
    bool rowsAfter(qint64 afterId, int limit, const StoredRowSink& sink);
    // A named value of the state table; false when the name or the table is not there.
    bool stateValue(const QString& name, qint64* value);
    // The lowest row id with pointDate at or after `time`; 0 when there is none, -1 on failure.
    // One pass over the table: asked once per request, never per batch.
    qint64 firstIdFrom(qint64 time);
    // The values (neither NULL nor the no-value marker) in the rows with ids above `afterId`,
    // and the earliest pointDate among those rows (0 when there are none).
    bool valuesAfter(qint64 afterId, qint64* count, qint64* earliest);
    // The alarm events changed after change mark `mark`, up to `limit` of them in the order of
    // their marks; none on a file without the event table.
    bool alarmChangesSince(qint64 mark, int limit, QVector<AlarmEventRecord>* out);
    // The highest change mark of the alarm events, 0 without any; -1 on failure.
    qint64 lastAlarmChangeMark();
    // The lowest change mark among the events that lasted into the time from `time` on (an active
    // one lasts until now); 0 when there is none, -1 on failure.
    qint64 firstAlarmChangeMarkFrom(qint64 time);

    // --- The alarm event log (reports and viewer) ---

    // True when the file keeps an alarm event log (an older project's file has none).
    bool hasAlarmEvents();
    // Every event that lasted into [from, to] (one still active lasts until now), of the nodes
    // named (all when empty), in ascending start time. A file without the log has none.
    bool alarmEvents(qint64 from, qint64 to, const QStringList& serials,
                     QVector<AlarmEventRecord>* out);

private:
    bool exists(const char* type, const QString& name);
    sqlite3_stmt* kept(SqliteStatement* statement, const char* sql);
    bool rowsById(sqlite3_stmt* statement, const StoredRowSink& sink);
    bool rowsByTime(sqlite3_stmt* statement, const QByteArray& serial, const StoredRowSink& sink);
    // A node's rows by time among those with ids in a range, by a query binding serial ?1, times
    // ?2 and ?3 and ids ?4 and ?5.
    bool nodeRowsOfIds(SqliteStatement* statement, const QByteArray& sql, const QByteArray& serial,
                       qint64 from, qint64 to, qint64 firstId, qint64 lastId,
                       const StoredRowSink& sink);
    qint64 idBound(const char* sql);
    // The single value of `sql` with its one parameter bound to `time`: 0 for NULL, -1 on failure.
    qint64 smallestFrom(const char* sql, qint64 time);
    bool fail(const char* what);

    SqliteConnection connection;
    QString error;
    // Kept prepared between the viewer's questions; they go before the connection.
    SqliteStatement nodeRowsStatement;
    SqliteStatement nodeRowsInIdsStatement;
    SqliteStatement idRowsStatement;
    SqliteStatement idRowsDescendingStatement;
    SqliteStatement rowStatement;
    SqliteStatement nodeRowsWithinStatement;
    SqliteStatement idDigestStatement;
    SqliteStatement rowsAfterStatement;
};
