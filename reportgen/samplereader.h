#pragma once

#include "sampletable.h"

#include <QString>
#include <QVector>

#include <functional>

struct sqlite3;

// A read-only connection to a project's sample database for the reports of many days. The rows
// of a month are too many to pass one by one through the SQL module: they are stepped through
// SQLite's own interface. Each thread opens its own reader. The file is never changed (nor its
// index built); a recorder may write to it meanwhile (WAL).
class SampleReader
{
public:
    explicit SampleReader(const QString& databasePath);
    ~SampleReader();
    SampleReader(const SampleReader&) = delete;
    SampleReader& operator=(const SampleReader&) = delete;

    bool isOpen() const { return db != nullptr; }
    const QString& errorText() const { return error; }

    // True when the sample table and the recorder's range index are both there.
    bool hasTable();
    bool hasIndex();
    // True when the summary and the trigger that keeps it are both there.
    bool hasSummary();

    // Statements between begin() and end() read one state of the file, whatever is written
    // meanwhile.
    bool begin();
    void end();

    struct Node
    {
        QString serial;
        bool channel1 = false;
        bool channel2 = false;
    };
    using Sink = std::function<void(int node, qint64 time, double channel1, double channel2)>;

    // Calls sink for the nodes' rows with time in [from, to], each node's in ascending time;
    // NoValue stands for NULL and for a column not read. Of rows of a node with one time the
    // later one counts, as in the daily report. The nodes are read side by side, a few hundred
    // rows each in turn: their rows share the table's pages, which then stay in the cache.
    bool read(const QVector<Node>& nodes, qint64 from, qint64 to, const Sink& sink);

    // Calls sink for the summary's buckets of a node from bucket `first` to bucket `last`, in
    // order.
    using BucketSink = std::function<void(const SampleTable::Bucket& bucket)>;
    bool readSummary(const QString& serial, qint64 first, qint64 last, const BucketSink& sink);

private:
    bool exists(const char* type, const QString& name);

    sqlite3* db = nullptr;
    QString error;
};
