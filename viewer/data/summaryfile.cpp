#include "summaryfile.h"

#include "floordiv.h"
#include "samplesummary.h"

#include <QIODevice>

#include <algorithm>
#include <limits>

namespace {

constexpr quint32 Magic = 0x5453554D; // written in the machine's byte order: a file from another
                                      // kind of machine fails the check and is rebuilt
// 2: one row per node and second, row seconds per bucket, id digests, stale ranges, in parts.
// 3: a value equal to a limit as shown no longer counts as outside (a summary of 2 would).
// 4: temperature channels' scales and activation energies, and their kinetic sums per bucket.
constexpr quint32 Version = 4;
constexpr qint32 NoScale = -1;
constexpr qint64 Everything = std::numeric_limits<qint64>::min();
// The newest part holds at least the last day (what a new view shows), each older one about a
// week; at most this many parts however wide the period (a clock set decades wrong).
constexpr qint64 NewestPartSeconds = 86400;
constexpr qint64 PartSeconds = 7 * 86400;
constexpr qint64 MaxParts = 64;

template <typename It> void writeItems(QDataStream& out, It begin, It end)
{
    using T = typename std::iterator_traits<It>::value_type;
    const std::vector<T> flat(begin, end);
    out << quint64(flat.size());
    out.writeRawData(reinterpret_cast<const char*>(flat.data()), int(flat.size() * sizeof(T)));
}

// The items whose key lies in [fromKey, toKey).
template <typename T>
void writeKeyRange(QDataStream& out, const std::deque<T>& items, qint64 fromKey, qint64 toKey)
{
    auto lessKey = [](const T& item, qint64 key) { return item.key < key; };
    const auto begin = std::lower_bound(items.begin(), items.end(), fromKey, lessKey);
    const auto end = std::lower_bound(begin, items.end(), toKey, lessKey);
    writeItems(out, begin, end);
}

// The first key whose bucket starts at or after the time.
qint64 keyFrom(qint64 time, qint64 seconds)
{
    if (time == std::numeric_limits<qint64>::min())
        return time;
    if (time == std::numeric_limits<qint64>::max())
        return time;
    return floorDiv(time + seconds - 1, seconds);
}

template <typename T> bool readItems(QDataStream& in, std::deque<T>* items)
{
    items->clear();
    quint64 count = 0;
    in >> count;
    // A damaged file must not ask for more than it holds (nor for more than one read takes).
    const qint64 left = in.device() ? in.device()->bytesAvailable() : 0;
    if (in.status() != QDataStream::Ok || count > quint64(qMax<qint64>(left, 0)) / sizeof(T) ||
        count * sizeof(T) > quint64(std::numeric_limits<int>::max()))
        return false;
    std::vector<T> flat(count);
    const int bytes = int(count * sizeof(T));
    if (in.readRawData(reinterpret_cast<char*>(flat.data()), bytes) != bytes)
        return false;
    items->assign(flat.begin(), flat.end());
    return true;
}

} // namespace

void SummaryFile::writePart(const SampleSummary& s, QDataStream& out, qint64 from, qint64 to)
{
    const qint64 fromKey = keyFrom(from, s.m_bucketSeconds);
    const qint64 toKey = keyFrom(to, s.m_bucketSeconds);
    const qint64 blockSeconds = SampleSummary::FineBlock * s.m_fineSeconds;
    const qint64 fromBlock = keyFrom(from, blockSeconds);
    const qint64 toBlock = keyFrom(to, blockSeconds);
    for (const SampleSummary::Node& node : s.m_nodes) {
        writeKeyRange(out, node.buckets, fromKey, toKey);
        const auto begin = node.fine.lower_bound(fromBlock);
        const auto end = node.fine.lower_bound(toBlock);
        out << quint64(std::distance(begin, end));
        for (auto it = begin; it != end; ++it) {
            out << qint64(it->first);
            out.writeRawData(reinterpret_cast<const char*>(it->second.data()),
                             int(it->second.size() * sizeof(SampleSummary::FineCell)));
        }
    }
    writeKeyRange(out, s.m_spans, fromKey, toKey);
}

bool SummaryFile::save(const SampleSummary& s, QIODevice* device)
{
    QDataStream out(device);
    out.setVersion(QDataStream::Qt_5_15);
    out << Magic << Version << quint32(sizeof(SampleSummary::Bucket)) << qint64(s.m_bucketSeconds)
        << qint64(s.m_fineSeconds) << s.m_lowId << s.m_highId << s.m_hasTime << s.m_firstTime
        << s.m_lastTime << s.m_completeFrom << quint32(s.m_nodes.size());
    for (const SampleSummary::Node& node : s.m_nodes) {
        out << node.serial << node.low[0] << node.high[0] << node.low[1] << node.high[1];
        for (int c = 0; c < 2; ++c)
            out << (node.kinetic[c] ? qint32(node.kinetic[c]->scale()) : NoScale) << node.energy[c];
    }
    out << quint32(s.m_stale.ranges().size());
    for (const SampleSummary::Stale& r : s.m_stale.ranges())
        out << r.serial << r.from << r.to << r.firstId << r.lastId;
    writeItems(out, s.m_blocks.begin(), s.m_blocks.end());
    // Part boundaries on whole blocks of fine buckets, so that no block is cut.
    std::vector<qint64> bounds;
    if (s.m_hasTime) {
        const qint64 block = SampleSummary::FineBlock * s.m_fineSeconds;
        const qint64 newest = floorDiv(s.m_lastTime - NewestPartSeconds, block) * block;
        qint64 step = qMax(block, floorDiv(PartSeconds + block - 1, block) * block);
        const qint64 left = newest - s.m_firstTime;
        if (left / step > MaxParts)
            step = (floorDiv(left / MaxParts, block) + 1) * block;
        for (qint64 bound = newest; bound > s.m_firstTime; bound -= step)
            bounds.push_back(bound);
    }
    bounds.push_back(Everything);
    out << quint32(bounds.size());
    for (qint64 bound : bounds)
        out << bound;
    qint64 to = std::numeric_limits<qint64>::max();
    for (qint64 bound : bounds) {
        writePart(s, out, bound, to);
        to = bound;
    }
    return out.status() == QDataStream::Ok;
}

SummaryFile::SummaryFile(QIODevice* device) : m_in(device)
{
    m_in.setVersion(QDataStream::Qt_5_15);
}

bool SummaryFile::first(SampleSummary* summary)
{
    quint32 magic = 0;
    quint32 version = 0;
    quint32 bucketSize = 0;
    qint64 seconds = 0;
    qint64 fineSeconds = 0;
    m_in >> magic >> version >> bucketSize >> seconds >> fineSeconds;
    if (m_in.status() != QDataStream::Ok || magic != Magic || version != Version ||
        bucketSize != sizeof(SampleSummary::Bucket) || seconds < 1 || fineSeconds < 1 ||
        seconds % fineSeconds != 0)
        return false;
    SampleSummary loaded;
    loaded.m_bucketSeconds = seconds;
    loaded.m_fineSeconds = fineSeconds;
    quint32 nodes = 0;
    m_in >> loaded.m_lowId >> loaded.m_highId >> loaded.m_hasTime >> loaded.m_firstTime >>
        loaded.m_lastTime >> loaded.m_completeFrom >> nodes;
    if (m_in.status() != QDataStream::Ok || nodes > 100000)
        return false;
    for (quint32 n = 0; n < nodes; ++n) {
        QByteArray serial;
        float range[4];
        qint32 scale[2];
        double energy[2];
        m_in >> serial >> range[0] >> range[1] >> range[2] >> range[3] >> scale[0] >> energy[0] >>
            scale[1] >> energy[1];
        if (m_in.status() != QDataStream::Ok || loaded.findSerial(serial) >= 0)
            return false;
        loaded.setAlarmRange(serial, 1, range[0], range[1]);
        loaded.setAlarmRange(serial, 2, range[2], range[3]);
        for (int c = 0; c < 2; ++c) {
            if (scale[c] == NoScale)
                continue;
            if (scale[c] != qint32(MeanKineticTemperature::Scale::Celsius) &&
                scale[c] != qint32(MeanKineticTemperature::Scale::Fahrenheit))
                return false;
            loaded.setTemperature(serial, c + 1, MeanKineticTemperature::Scale(scale[c]),
                                  energy[c]);
        }
        m_serials << serial;
    }
    quint32 stale = 0;
    m_in >> stale;
    if (m_in.status() != QDataStream::Ok || stale > 1000000)
        return false;
    for (quint32 i = 0; i < stale; ++i) {
        SampleSummary::Stale s;
        m_in >> s.serial >> s.from >> s.to >> s.firstId >> s.lastId;
        loaded.m_stale.restore(s);
    }
    quint32 bounds = 0;
    if (!readItems(m_in, &loaded.m_blocks))
        return false;
    m_in >> bounds;
    if (m_in.status() != QDataStream::Ok || bounds < 1 || bounds > MaxParts + 2)
        return false;
    m_bounds.resize(bounds);
    for (qint64& bound : m_bounds)
        m_in >> bound;
    if (m_in.status() != QDataStream::Ok || m_bounds.back() != Everything ||
        !std::is_sorted(m_bounds.rbegin(), m_bounds.rend()))
        return false;
    m_next = 0;
    if (!readPart(&loaded))
        return false;
    *summary = std::move(loaded);
    return true;
}

bool SummaryFile::next(SampleSummary* part)
{
    return hasMore() && readPart(part);
}

bool SummaryFile::readPart(SampleSummary* into)
{
    for (const QByteArray& serial : m_serials) {
        SampleSummary::Node& node = into->nodeFor(serial);
        std::deque<SampleSummary::Bucket> buckets;
        if (!readItems(m_in, &buckets))
            return false;
        node.buckets.insert(node.buckets.begin(), buckets.begin(), buckets.end());
        quint64 blocks = 0;
        m_in >> blocks;
        const int bytes = int(SampleSummary::FineBlock * sizeof(SampleSummary::FineCell));
        const qint64 left = m_in.device() ? m_in.device()->bytesAvailable() : 0;
        if (m_in.status() != QDataStream::Ok ||
            blocks > quint64(qMax<qint64>(left, 0)) / quint64(bytes + 8))
            return false;
        for (quint64 b = 0; b < blocks; ++b) {
            qint64 block = 0;
            m_in >> block;
            SampleSummary::FineBlockCells& cells = node.fine[block];
            cells.resize(SampleSummary::FineBlock);
            if (m_in.readRawData(reinterpret_cast<char*>(cells.data()), bytes) != bytes)
                return false;
        }
    }
    std::deque<SampleSummary::IdSpan> spans;
    if (!readItems(m_in, &spans))
        return false;
    into->m_spans.insert(into->m_spans.begin(), spans.begin(), spans.end());
    m_loadedFrom = m_bounds[m_next++];
    return m_in.status() == QDataStream::Ok;
}
