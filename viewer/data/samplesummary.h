#pragma once

#include "channelstats.h"
#include "meankinetictemperature.h"
#include "staleledger.h"
#include "storedrow.h"
#include "summaryfile.h"
#include "viewersamplereader.h"

#include <QByteArray>
#include <QList>
#include <QVector>

#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <vector>

class QIODevice;

// What the viewer keeps of the sample table so that a view of a whole month never reads the
// month's rows. Per node and coarse time bucket (a minute at a 1 s interval): each channel's
// count, sum, minimum and maximum with the time each was first reached, and how many values lay
// outside the node's alarm range. Per node and fine bucket (ten seconds at 1 s): each channel's
// minimum and maximum in hundredths, which is exact for the two-decimal values the recorder
// stores (other values are widened outwards to the next hundredth). Per coarse bucket over all
// nodes: the smallest and largest row id, which find a time range's rows on a file without the
// range index. Per block of row ids: a digest of its rows (ViewerSampleReader::IdDigest), against
// which the file is checked the next time.
//
// The summary holds the rows with ids in [lowId(), highId()], one per node and second: of two
// rows of one node in one second the later one counts, as everywhere the rows are read. Rows are
// added in id order, not in time order, so a row can only be told to repeat a second when it
// falls inside the seconds a bucket already holds for its node; such a bucket, and every range
// that no longer matches the file, is marked stale until it is read again from the rows by time
// (replaceRange). Views of a stale range read the rows.
//
// Of each temperature channel a bucket also keeps the sums of its mean kinetic temperature
// (KineticSums), with the activation energy the project sets for the channel (another energy
// is another summary, as another alarm range is). Each sample counts up to the channel's next
// sample, at most an interval: inside a bucket as rows and batches are added, whatever their
// order, as long as they do not interleave in time (then the bucket is stale, see above); from
// a bucket's last sample to the next bucket's first when bucketStats joins them. So the figure
// of whole buckets equals the one worked out from the same rows by time; they differ only in
// the order the sums are added (relative 1e-12, far below a hundredth of a degree).
class SampleSummary
{
public:
    static constexpr qint32 NoCenti = 0x7FFFFFFF;
    static constexpr int FineBlock = 4096;
    static constexpr qint64 BlockIds = 65536;

    struct ChannelBucket
    {
        quint32 count = 0;
        quint32 outside = 0;
        quint32 minOffset = 0; // seconds after the bucket start
        quint32 maxOffset = 0;
        double sum = 0;
        double min = 0;
        double max = 0;
        // The channel's KineticSums, its times as seconds after the bucket start.
        double kineticTerms = 0;
        double lastTerm = 0;
        quint32 kineticSeconds = 0;
        quint32 firstTermOffset = 0;
        quint32 lastTermOffset = 0;
    };
    struct Bucket
    {
        qint64 key = 0; // bucket start / bucketSeconds
        ChannelBucket channel[2];
        // The node's rows in the bucket, values or not, and the seconds of the first and last.
        quint32 rows = 0;
        quint32 firstOffset = 0;
        quint32 lastOffset = 0;
    };
    struct FineCell
    {
        qint32 min[2] = {NoCenti, NoCenti};
        qint32 max[2] = {-NoCenti, -NoCenti};
    };
    struct IdSpan
    {
        qint64 key = 0;
        qint64 firstId = 0;
        qint64 lastId = 0;
    };
    struct IdBlock
    {
        qint64 key = 0; // id / BlockIds
        ViewerSampleReader::IdDigest digest;
    };
    using Stale = StaleLedger::Stale;
    // The samples of one pixel column: those whose time lies in [from, to).
    struct Column
    {
        qint64 from = 0;
        qint64 to = 0;
        quint32 count = 0; // for fine buckets: how many of them held a value
        double min = 0;
        double max = 0;
    };

    // Reads a saved summary the newest part first, so that a view of the last days can be
    // answered before the rest is read.
    using Loader = SummaryFile;

    // Coarse buckets of sixty sample intervals, fine ones of ten.
    explicit SampleSummary(int intervalSeconds = 1);

    qint64 bucketSeconds() const { return m_bucketSeconds; }
    qint64 fineSeconds() const { return m_fineSeconds; }
    // The recording interval the kinetic sums count with.
    qint64 intervalSeconds() const { return m_bucketSeconds / 60; }

    // The recorder's range rule (RangeRule) on its single-precision bounds.
    static bool isOutside(float low, float high, double value);

    // Alarm ranges count values outside them as they are added, so they are fixed first; a
    // summary made with other ranges is of no use (see sameSettings).
    void setAlarmRange(const QByteArray& serial, int channel, float min, float max);
    // Temperature channels keep the sums of their mean kinetic temperature as rows are added,
    // so they too are fixed first.
    void setTemperature(const QByteArray& serial, int channel, MeanKineticTemperature::Scale scale,
                        double activationEnergy);
    // How a channel's kinetic sums were made; none for a channel that is no temperature.
    std::optional<MeanKineticTemperature> kineticOf(int serialIndex, int channel) const;
    bool sameSettings(const SampleSummary& other) const;
    // The same settings and nodes, without rows.
    SampleSummary emptyCopy() const;

    int serialCount() const { return int(m_nodes.size()); }
    int findSerial(const QByteArray& serial) const;
    QList<QByteArray> serials() const;

    void add(const StoredRow& row);
    // Takes in what another summary of the same settings holds (a batch of rows read apart).
    void merge(const SampleSummary& other);
    // Records which ids the added rows covered; the caller adds whole id ranges.
    void markIds(qint64 firstId, qint64 lastId);
    // Counts a row read by id into its block's digest.
    void noteId(const StoredRow& row);

    // Forgets what the summary holds of the whole coarse buckets in [fromKey, toKey], of one
    // node or of all (empty serial), takes in what `rows` holds there (the same seconds read
    // again), and the range is no longer stale.
    void replaceRange(const QByteArray& serial, qint64 fromKey, qint64 toKey,
                      const SampleSummary& rows);

    void markStale(const Stale& stale);
    void unmarkStale(const QByteArray& serial, qint64 from, qint64 to);
    bool isStale(const QByteArray& serial, qint64 from, qint64 to) const;
    const std::vector<Stale>& staleRanges() const { return m_stale.ranges(); }

    const std::deque<IdBlock>& idBlocks() const { return m_blocks; }
    void setIdBlock(const IdBlock& block);

    bool isEmpty() const { return m_highId < m_lowId; }
    qint64 lowId() const { return m_lowId; }
    qint64 highId() const { return m_highId; }
    // Smallest and largest pointDate among the added rows; false when none was added.
    bool period(qint64* first, qint64* last) const;
    // Every row at or after this time is in the summary and checked against the file; before
    // it, rows may still be missing (while the summary is built from the newest rows back, while
    // an earlier session's summary is read, or while it is checked part by part).
    qint64 completeFrom() const { return qMax(m_completeFrom, m_usableFrom); }
    // The part of that which the rows read so far give (kept with the summary).
    qint64 builtFrom() const { return m_completeFrom; }
    void setCompleteFrom(qint64 time) { m_completeFrom = time; }
    // The part of that which reading or checking an earlier session's summary gives.
    void setUsableFrom(qint64 time) { m_usableFrom = time; }

    // One column per pixel: column i gathers the buckets that start in [t0 + i*width,
    // t0 + (i+1)*width), coarse ones where a column is as wide as one, else fine ones. Needs
    // width >= fineSeconds().
    QVector<Column> envelope(int serialIndex, int channel, double t0, double width,
                             int columns) const;
    // Statistics of the whole coarse buckets from fromKey to toKey (inclusive).
    ChannelStats bucketStats(int serialIndex, int channel, qint64 fromKey, qint64 toKey) const;
    // The ids between which every added row with pointDate in [from, to] lies; false when no
    // added row lies there.
    bool idSpan(qint64 from, qint64 to, qint64* firstId, qint64* lastId) const;
    // The coarse buckets that may hold added rows with ids in [firstId, lastId].
    std::vector<qint64> bucketsOfIds(qint64 firstId, qint64 lastId) const;

    // In parts by time, the newest first (see Loader).
    bool save(QIODevice* device) const;
    bool load(QIODevice* device);

private:
    // The file format reads and writes the buckets as they are held.
    friend class SummaryFile;

    using FineBlockCells = std::vector<FineCell>;
    struct Node
    {
        QByteArray serial;
        float low[2] = {0, 0};
        float high[2] = {0, 0};
        std::optional<MeanKineticTemperature> kinetic[2];
        double energy[2] = {0, 0}; // as set: the file keeps it, and settings compare it
        std::deque<Bucket> buckets;
        // Blocks of FineBlock fine buckets by block number; data far from the rest (a wrong
        // clock) costs one block, not the cells in between.
        std::map<qint64, FineBlockCells> fine;
    };

    int internSerial(const char* serial, int length);
    Node& nodeFor(const QByteArray& serial);
    // Adds a part of a bucket; a part whose seconds meet the bucket's marks the bucket stale.
    void combine(const Node& node, Bucket& into, const Bucket& from);
    static void combine(ChannelBucket& into, const ChannelBucket& from, qint64 interval);
    static void combine(FineCell& into, const FineCell& from);
    static FineCell& fineAt(Node& node, qint64 key);
    void clearNode(Node& node, qint64 fromKey, qint64 toKey);
    void columnEdges(QVector<Column>* columns, double t0, double width, qint64 seconds) const;
    void coarseEnvelope(const Node& node, int channel, QVector<Column>* columns) const;
    void fineEnvelope(const Node& node, int channel, QVector<Column>* columns) const;

    qint64 m_bucketSeconds;
    qint64 m_fineSeconds;
    std::vector<Node> m_nodes;
    int m_lastSerial = 0;
    std::deque<IdSpan> m_spans;
    std::deque<IdBlock> m_blocks;
    StaleLedger m_stale;
    qint64 m_lowId = 1;
    qint64 m_highId = 0;
    qint64 m_firstTime = 0;
    qint64 m_lastTime = 0;
    bool m_hasTime = false;
    qint64 m_completeFrom = std::numeric_limits<qint64>::min();
    qint64 m_usableFrom = std::numeric_limits<qint64>::min();
};
