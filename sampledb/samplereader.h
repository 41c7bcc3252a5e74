#pragma once

#include "kinetictable.h"
#include "sampleconnection.h"
#include "sampletable.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <vector>

// What the report generator reads of a project's sample database: a node's rows of a period,
// its summary's buckets, and the channels of a node one column each. Opened as a
// SampleConnection (read-only, the reports' busy timeout unless told otherwise).
class SampleReader : public SampleConnection
{
public:
    using SampleConnection::SampleConnection;

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

    // The same buckets, each with its kinetic sums (KineticTable; null when it has none).
    using KineticSink =
        std::function<void(const SampleTable::Bucket& bucket, const KineticTable::Row* sums)>;
    bool readKinetic(const QString& serial, qint64 first, qint64 last, const KineticSink& sink);

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
};
