#include "samplesummary.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr quint32 Magic = 0x5453554D; // written in the machine's byte order: a file from another
                                      // kind of machine fails the check and is rebuilt
constexpr quint32 Version = 1;

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

template <typename T> bool lessKey(const T& item, qint64 key)
{
    return item.key < key;
}

// The element with the key, made where it belongs when missing. Rows come in time order or in
// reverse, so the ends are tried first.
template <typename T> T& itemAt(std::deque<T>& items, qint64 key)
{
    if (items.empty() || items.back().key < key) {
        items.emplace_back();
        items.back().key = key;
        return items.back();
    }
    if (items.back().key == key)
        return items.back();
    if (items.front().key > key) {
        items.emplace_front();
        items.front().key = key;
        return items.front();
    }
    if (items.front().key == key)
        return items.front();
    auto it = std::lower_bound(items.begin(), items.end(), key, lessKey<T>);
    if (it == items.end() || it->key != key) {
        it = items.emplace(it);
        it->key = key;
    }
    return *it;
}

// A value in hundredths, rounded towards the side that keeps the true value inside the range.
qint32 centi(double value, bool upwards)
{
    const double scaled = value * 100;
    double whole = std::nearbyint(scaled);
    if (whole / 100 != value)
        whole = upwards ? std::ceil(scaled) : std::floor(scaled);
    const double limit = double(SampleSummary::NoCenti - 1);
    return qint32(qBound(-limit, whole, limit));
}

template <typename T> void writeItems(QDataStream& out, const std::deque<T>& items)
{
    out << quint64(items.size());
    std::vector<T> flat(items.begin(), items.end());
    out.writeRawData(reinterpret_cast<const char*>(flat.data()), int(flat.size() * sizeof(T)));
}

template <typename T> bool readItems(QDataStream& in, std::deque<T>* items)
{
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

SampleSummary::SampleSummary(int intervalSeconds)
    : m_bucketSeconds(60 * qint64(qMax(1, intervalSeconds))),
      m_fineSeconds(10 * qint64(qMax(1, intervalSeconds)))
{
}

SampleSummary::Node& SampleSummary::nodeFor(const QByteArray& serial)
{
    return m_nodes[size_t(internSerial(serial.constData(), serial.size()))];
}

void SampleSummary::setAlarmRange(const QByteArray& serial, int channel, float min, float max)
{
    Node& node = nodeFor(serial);
    node.low[channel - 1] = min;
    node.high[channel - 1] = max;
}

bool SampleSummary::sameSettings(const SampleSummary& other) const
{
    if (m_bucketSeconds != other.m_bucketSeconds || m_fineSeconds != other.m_fineSeconds)
        return false;
    // Every node with a range here must have the same range there, and the other way round.
    auto rangesOf = [](const SampleSummary& s, const SampleSummary& t) {
        for (const Node& node : s.m_nodes) {
            const int i = t.findSerial(node.serial);
            const Node* match = i < 0 ? nullptr : &t.m_nodes[size_t(i)];
            for (int c = 0; c < 2; ++c) {
                const float low = match ? match->low[c] : 0.0f;
                const float high = match ? match->high[c] : 0.0f;
                if (std::memcmp(&low, &node.low[c], sizeof low) != 0 ||
                    std::memcmp(&high, &node.high[c], sizeof high) != 0)
                    return false;
            }
        }
        return true;
    };
    return rangesOf(*this, other) && rangesOf(other, *this);
}

int SampleSummary::findSerial(const QByteArray& serial) const
{
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (m_nodes[i].serial == serial)
            return int(i);
    return -1;
}

QList<QByteArray> SampleSummary::serials() const
{
    QList<QByteArray> list;
    for (const Node& node : m_nodes)
        list << node.serial;
    return list;
}

int SampleSummary::internSerial(const char* serial, int length)
{
    // Rows of a few nodes interleave; the node of the previous row is the likeliest.
    auto matches = [&](int i) {
        const QByteArray& s = m_nodes[size_t(i)].serial;
        return s.size() == length && std::memcmp(s.constData(), serial, size_t(length)) == 0;
    };
    if (m_lastSerial < int(m_nodes.size()) && matches(m_lastSerial))
        return m_lastSerial;
    for (int i = 0; i < int(m_nodes.size()); ++i) {
        if (matches(i)) {
            m_lastSerial = i;
            return i;
        }
    }
    m_nodes.emplace_back();
    m_nodes.back().serial = QByteArray(serial, length);
    m_lastSerial = int(m_nodes.size()) - 1;
    return m_lastSerial;
}

bool SampleSummary::isOutside(float low, float high, double value)
{
    return low != high && (value < double(low) || value > double(high));
}

void SampleSummary::add(const StoredRow& row)
{
    Node& node = m_nodes[size_t(internSerial(row.serial, row.serialLength))];
    const qint64 key = floorDiv(row.time, m_bucketSeconds);
    const quint32 offset = quint32(row.time - key * m_bucketSeconds);
    Bucket& bucket = itemAt(node.buckets, key);
    for (int c = 0; c < 2; ++c) {
        if (!row.present[c])
            continue;
        ChannelBucket one;
        one.count = 1;
        one.outside = isOutside(node.low[c], node.high[c], row.value[c]) ? 1 : 0;
        one.sum = one.min = one.max = row.value[c];
        one.minOffset = one.maxOffset = offset;
        combine(bucket.channel[c], one);
    }
    FineCell& cell = fineAt(node, floorDiv(row.time, m_fineSeconds));
    FineCell one;
    for (int c = 0; c < 2; ++c) {
        if (row.present[c]) {
            one.min[c] = centi(row.value[c], false);
            one.max[c] = centi(row.value[c], true);
        }
    }
    combine(cell, one);
    IdSpan& span = itemAt(m_spans, key);
    if (span.lastId == 0) {
        span.firstId = span.lastId = row.id;
    } else {
        span.firstId = qMin(span.firstId, row.id);
        span.lastId = qMax(span.lastId, row.id);
    }
    if (!m_hasTime) {
        m_firstTime = m_lastTime = row.time;
        m_hasTime = true;
    } else {
        m_firstTime = qMin(m_firstTime, row.time);
        m_lastTime = qMax(m_lastTime, row.time);
    }
}

void SampleSummary::combine(ChannelBucket& into, const ChannelBucket& from)
{
    if (from.count == 0)
        return;
    if (into.count == 0) {
        into = from;
        return;
    }
    if (from.min < into.min || (from.min == into.min && from.minOffset < into.minOffset)) {
        into.min = from.min;
        into.minOffset = from.minOffset;
    }
    if (from.max > into.max || (from.max == into.max && from.maxOffset < into.maxOffset)) {
        into.max = from.max;
        into.maxOffset = from.maxOffset;
    }
    into.count += from.count;
    into.outside += from.outside;
    into.sum += from.sum;
}

void SampleSummary::combine(FineCell& into, const FineCell& from)
{
    for (int c = 0; c < 2; ++c) {
        into.min[c] = qMin(into.min[c], from.min[c]);
        into.max[c] = qMax(into.max[c], from.max[c]);
    }
}

SampleSummary::FineCell& SampleSummary::fineAt(Node& node, qint64 key)
{
    const qint64 block = floorDiv(key, FineBlock);
    FineBlockCells& cells = node.fine[block];
    if (cells.empty())
        cells.resize(FineBlock);
    return cells[size_t(key - block * FineBlock)];
}

void SampleSummary::merge(const SampleSummary& other)
{
    for (const Node& from : other.m_nodes) {
        Node& node = nodeFor(from.serial);
        // Buckets of a batch mostly lie beyond one end of what is here: walking them from that
        // end keeps every insertion at the end of the deque.
        const bool before = !node.buckets.empty() && !from.buckets.empty() &&
                            from.buckets.back().key <= node.buckets.front().key;
        auto put = [&](const Bucket& b) {
            Bucket& into = itemAt(node.buckets, b.key);
            combine(into.channel[0], b.channel[0]);
            combine(into.channel[1], b.channel[1]);
        };
        if (before)
            std::for_each(from.buckets.rbegin(), from.buckets.rend(), put);
        else
            std::for_each(from.buckets.begin(), from.buckets.end(), put);
        for (const auto& [block, cells] : from.fine) {
            FineBlockCells& into = node.fine[block];
            if (into.empty()) {
                into = cells;
                continue;
            }
            for (size_t i = 0; i < cells.size(); ++i)
                combine(into[i], cells[i]);
        }
    }
    const bool before = !m_spans.empty() && !other.m_spans.empty() &&
                        other.m_spans.back().key <= m_spans.front().key;
    auto putSpan = [&](const IdSpan& s) {
        IdSpan& into = itemAt(m_spans, s.key);
        if (into.lastId == 0) {
            into.firstId = s.firstId;
            into.lastId = s.lastId;
        } else {
            into.firstId = qMin(into.firstId, s.firstId);
            into.lastId = qMax(into.lastId, s.lastId);
        }
    };
    if (before)
        std::for_each(other.m_spans.rbegin(), other.m_spans.rend(), putSpan);
    else
        std::for_each(other.m_spans.begin(), other.m_spans.end(), putSpan);
    if (other.m_hasTime) {
        m_firstTime = m_hasTime ? qMin(m_firstTime, other.m_firstTime) : other.m_firstTime;
        m_lastTime = m_hasTime ? qMax(m_lastTime, other.m_lastTime) : other.m_lastTime;
        m_hasTime = true;
    }
    if (!other.isEmpty())
        markIds(other.m_lowId, other.m_highId);
}

void SampleSummary::markIds(qint64 firstId, qint64 lastId)
{
    if (lastId < firstId)
        return;
    if (isEmpty()) {
        m_lowId = firstId;
        m_highId = lastId;
        return;
    }
    m_lowId = qMin(m_lowId, firstId);
    m_highId = qMax(m_highId, lastId);
}

bool SampleSummary::period(qint64* first, qint64* last) const
{
    if (!m_hasTime)
        return false;
    *first = m_firstTime;
    *last = m_lastTime;
    return true;
}

void SampleSummary::columnEdges(QVector<Column>* columns, double t0, double width,
                                qint64 seconds) const
{
    // Each column starts at the first bucket start at or after its left pixel edge.
    auto edgeKey = [&](int i) { return qint64(std::ceil((t0 + i * width) / double(seconds))); };
    for (int i = 0; i < columns->size(); ++i) {
        (*columns)[i].from = edgeKey(i) * seconds;
        (*columns)[i].to = edgeKey(i + 1) * seconds;
    }
}

QVector<SampleSummary::Column> SampleSummary::envelope(int serialIndex, int channel, double t0,
                                                       double width, int columns) const
{
    QVector<Column> result(qMax(0, columns));
    const bool coarse = width >= double(m_bucketSeconds);
    columnEdges(&result, t0, width, coarse ? m_bucketSeconds : m_fineSeconds);
    if (serialIndex < 0 || serialIndex >= serialCount() || result.isEmpty())
        return result;
    const Node& node = m_nodes[size_t(serialIndex)];
    if (coarse)
        coarseEnvelope(node, channel, &result);
    else
        fineEnvelope(node, channel, &result);
    return result;
}

void SampleSummary::coarseEnvelope(const Node& node, int channel, QVector<Column>* columns) const
{
    const qint64 firstKey = columns->first().from / m_bucketSeconds;
    const qint64 endKey = columns->last().to / m_bucketSeconds;
    auto it = std::lower_bound(node.buckets.begin(), node.buckets.end(), firstKey, lessKey<Bucket>);
    int column = 0;
    for (; it != node.buckets.end() && it->key < endKey; ++it) {
        const qint64 start = it->key * m_bucketSeconds;
        while (column + 1 < columns->size() && (*columns)[column].to <= start)
            ++column;
        const ChannelBucket& b = it->channel[channel - 1];
        if (b.count == 0)
            continue;
        Column& c = (*columns)[column];
        c.min = c.count == 0 ? b.min : qMin(c.min, b.min);
        c.max = c.count == 0 ? b.max : qMax(c.max, b.max);
        c.count += b.count;
    }
}

void SampleSummary::fineEnvelope(const Node& node, int channel, QVector<Column>* columns) const
{
    const int c = channel - 1;
    const qint64 firstKey = columns->first().from / m_fineSeconds;
    const qint64 endKey = columns->last().to / m_fineSeconds;
    int column = 0;
    for (auto it = node.fine.lower_bound(floorDiv(firstKey, FineBlock));
         it != node.fine.end() && it->first * FineBlock < endKey; ++it) {
        const qint64 base = it->first * FineBlock;
        const qint64 from = qMax<qint64>(0, firstKey - base);
        const qint64 to = qMin<qint64>(FineBlock, endKey - base);
        for (qint64 i = from; i < to; ++i) {
            const FineCell& cell = it->second[size_t(i)];
            if (cell.min[c] > cell.max[c])
                continue;
            const qint64 start = (base + i) * m_fineSeconds;
            while (column + 1 < columns->size() && (*columns)[column].to <= start)
                ++column;
            Column& col = (*columns)[column];
            const double low = cell.min[c] / 100.0;
            const double high = cell.max[c] / 100.0;
            col.min = col.count == 0 ? low : qMin(col.min, low);
            col.max = col.count == 0 ? high : qMax(col.max, high);
            ++col.count;
        }
    }
}

ChannelStats SampleSummary::bucketStats(int serialIndex, int channel, qint64 fromKey,
                                        qint64 toKey) const
{
    ChannelStats stats;
    if (serialIndex < 0 || serialIndex >= serialCount())
        return stats;
    const std::deque<Bucket>& buckets = m_nodes[size_t(serialIndex)].buckets;
    auto it = std::lower_bound(buckets.begin(), buckets.end(), fromKey, lessKey<Bucket>);
    for (; it != buckets.end() && it->key <= toKey; ++it) {
        const ChannelBucket& b = it->channel[channel - 1];
        if (b.count == 0)
            continue;
        const qint64 start = it->key * m_bucketSeconds;
        ChannelStats s;
        s.count = b.count;
        s.outside = b.outside;
        s.sum = b.sum;
        s.min = b.min;
        s.max = b.max;
        s.minTime = start + b.minOffset;
        s.maxTime = start + b.maxOffset;
        stats.merge(s);
    }
    return stats;
}

bool SampleSummary::idSpan(qint64 from, qint64 to, qint64* firstId, qint64* lastId) const
{
    const qint64 fromKey = floorDiv(from, m_bucketSeconds);
    const qint64 toKey = floorDiv(to, m_bucketSeconds);
    auto it = std::lower_bound(m_spans.begin(), m_spans.end(), fromKey, lessKey<IdSpan>);
    bool any = false;
    for (; it != m_spans.end() && it->key <= toKey; ++it) {
        *firstId = any ? qMin(*firstId, it->firstId) : it->firstId;
        *lastId = any ? qMax(*lastId, it->lastId) : it->lastId;
        any = true;
    }
    return any;
}

bool SampleSummary::save(QIODevice* device) const
{
    QDataStream out(device);
    out.setVersion(QDataStream::Qt_5_15);
    out << Magic << Version << quint32(sizeof(Bucket)) << qint64(m_bucketSeconds)
        << qint64(m_fineSeconds) << m_lowId << m_highId << m_hasTime << m_firstTime << m_lastTime
        << m_completeFrom << quint32(m_nodes.size());
    for (const Node& node : m_nodes) {
        out << node.serial << node.low[0] << node.high[0] << node.low[1] << node.high[1];
        writeItems(out, node.buckets);
        out << quint64(node.fine.size());
        for (const auto& [block, cells] : node.fine) {
            out << qint64(block);
            out.writeRawData(reinterpret_cast<const char*>(cells.data()),
                             int(cells.size() * sizeof(FineCell)));
        }
    }
    writeItems(out, m_spans);
    return out.status() == QDataStream::Ok;
}

bool SampleSummary::load(QIODevice* device)
{
    QDataStream in(device);
    in.setVersion(QDataStream::Qt_5_15);
    quint32 magic = 0;
    quint32 version = 0;
    quint32 bucketSize = 0;
    qint64 seconds = 0;
    quint32 nodes = 0;
    SampleSummary loaded;
    qint64 fineSeconds = 0;
    in >> magic >> version >> bucketSize >> seconds >> fineSeconds;
    if (in.status() != QDataStream::Ok || magic != Magic || version != Version ||
        bucketSize != sizeof(Bucket) || seconds < 1 || fineSeconds < 1)
        return false;
    loaded.m_bucketSeconds = seconds;
    loaded.m_fineSeconds = fineSeconds;
    in >> loaded.m_lowId >> loaded.m_highId >> loaded.m_hasTime >> loaded.m_firstTime >>
        loaded.m_lastTime >> loaded.m_completeFrom >> nodes;
    if (in.status() != QDataStream::Ok || nodes > 100000)
        return false;
    loaded.m_nodes.resize(nodes);
    for (Node& node : loaded.m_nodes) {
        in >> node.serial >> node.low[0] >> node.high[0] >> node.low[1] >> node.high[1];
        if (in.status() != QDataStream::Ok || !readItems(in, &node.buckets))
            return false;
        quint64 blocks = 0;
        in >> blocks;
        for (quint64 b = 0; b < blocks && in.status() == QDataStream::Ok; ++b) {
            qint64 block = 0;
            in >> block;
            FineBlockCells& cells = node.fine[block];
            cells.resize(FineBlock);
            const int bytes = int(FineBlock * sizeof(FineCell));
            if (in.readRawData(reinterpret_cast<char*>(cells.data()), bytes) != bytes)
                return false;
        }
    }
    if (!readItems(in, &loaded.m_spans) || in.status() != QDataStream::Ok)
        return false;
    *this = std::move(loaded);
    return true;
}
