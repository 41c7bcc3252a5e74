#include "samplesummary.h"

#include "floordiv.h"
#include "rangerule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

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

KineticSums sumsOf(const SampleSummary::ChannelBucket& b, qint64 start)
{
    KineticSums sums;
    sums.terms = b.kineticTerms;
    sums.seconds = b.kineticSeconds;
    sums.first = start + b.firstTermOffset;
    sums.last = start + b.lastTermOffset;
    sums.lastTerm = b.lastTerm;
    return sums;
}

void store(SampleSummary::ChannelBucket* b, const KineticSums& sums)
{
    b->kineticTerms = sums.terms;
    b->kineticSeconds = quint32(sums.seconds);
    b->firstTermOffset = quint32(sums.first);
    b->lastTermOffset = quint32(sums.last);
    b->lastTerm = sums.lastTerm;
}

} // namespace

SampleSummary::SampleSummary(int intervalSeconds)
    : m_bucketSeconds(60 * qint64(qMax(1, intervalSeconds))),
      m_fineSeconds(10 * qint64(qMax(1, intervalSeconds)))
{
}

SampleSummary SampleSummary::emptyCopy() const
{
    SampleSummary copy;
    copy.m_bucketSeconds = m_bucketSeconds;
    copy.m_fineSeconds = m_fineSeconds;
    for (const Node& node : m_nodes) {
        copy.m_nodes.emplace_back();
        Node& into = copy.m_nodes.back();
        into.serial = node.serial;
        std::copy(std::begin(node.low), std::end(node.low), std::begin(into.low));
        std::copy(std::begin(node.high), std::end(node.high), std::begin(into.high));
        std::copy(std::begin(node.kinetic), std::end(node.kinetic), std::begin(into.kinetic));
        std::copy(std::begin(node.energy), std::end(node.energy), std::begin(into.energy));
    }
    return copy;
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

void SampleSummary::setTemperature(const QByteArray& serial, int channel,
                                   MeanKineticTemperature::Scale scale, double activationEnergy)
{
    Node& node = nodeFor(serial);
    node.kinetic[channel - 1].emplace(scale, activationEnergy);
    node.energy[channel - 1] = activationEnergy;
}

std::optional<MeanKineticTemperature> SampleSummary::kineticOf(int serialIndex, int channel) const
{
    if (serialIndex < 0 || serialIndex >= serialCount() || channel < 1 || channel > 2)
        return std::nullopt;
    return m_nodes[size_t(serialIndex)].kinetic[channel - 1];
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
                const bool kinetic = match && match->kinetic[c];
                if (bool(node.kinetic[c]) != kinetic ||
                    (kinetic && (node.kinetic[c]->scale() != match->kinetic[c]->scale() ||
                                 node.energy[c] != match->energy[c])))
                    return false;
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
    return RangeRule(low, high).isOutside(value);
}

void SampleSummary::add(const StoredRow& row)
{
    Node& node = m_nodes[size_t(internSerial(row.serial, row.serialLength))];
    const qint64 key = floorDiv(row.time, m_bucketSeconds);
    const quint32 offset = quint32(row.time - key * m_bucketSeconds);
    Bucket one;
    one.key = key;
    one.rows = 1;
    one.firstOffset = one.lastOffset = offset;
    for (int c = 0; c < 2; ++c) {
        if (!row.present[c])
            continue;
        ChannelBucket& b = one.channel[c];
        b.count = 1;
        b.outside = isOutside(node.low[c], node.high[c], row.value[c]) ? 1 : 0;
        b.sum = b.min = b.max = row.value[c];
        b.minOffset = b.maxOffset = offset;
        const double term = node.kinetic[c] ? node.kinetic[c]->term(row.value[c]) : 0.0;
        if (term > 0) {
            b.lastTerm = term;
            b.firstTermOffset = b.lastTermOffset = offset;
        }
    }
    combine(node, itemAt(node.buckets, key), one);
    FineCell& cell = fineAt(node, floorDiv(row.time, m_fineSeconds));
    FineCell fine;
    for (int c = 0; c < 2; ++c) {
        if (row.present[c]) {
            fine.min[c] = centi(row.value[c], false);
            fine.max[c] = centi(row.value[c], true);
        }
    }
    combine(cell, fine);
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

void SampleSummary::noteId(const StoredRow& row)
{
    itemAt(m_blocks, floorDiv(row.id, BlockIds)).digest.add(row);
}

void SampleSummary::setIdBlock(const IdBlock& block)
{
    itemAt(m_blocks, block.key) = block;
}

void SampleSummary::combine(const Node& node, Bucket& into, const Bucket& from)
{
    if (from.rows == 0)
        return;
    if (into.rows == 0) {
        into = from;
        return;
    }
    // The later of two rows in one second counts, and which one is later only the ids tell:
    // a bucket whose seconds meet is read again by time.
    if (from.firstOffset <= into.lastOffset && from.lastOffset >= into.firstOffset) {
        Stale stale;
        stale.serial = node.serial;
        stale.from = into.key * m_bucketSeconds;
        stale.to = stale.from + m_bucketSeconds - 1;
        markStale(stale);
    }
    into.rows += from.rows;
    into.firstOffset = qMin(into.firstOffset, from.firstOffset);
    into.lastOffset = qMax(into.lastOffset, from.lastOffset);
    combine(into.channel[0], from.channel[0], intervalSeconds());
    combine(into.channel[1], from.channel[1], intervalSeconds());
}

void SampleSummary::combine(ChannelBucket& into, const ChannelBucket& from, qint64 interval)
{
    if (from.count == 0)
        return;
    if (into.count == 0) {
        into = from;
        return;
    }
    KineticSums kinetic = sumsOf(into, 0);
    kinetic.merge(sumsOf(from, 0), interval);
    store(&into, kinetic);
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
        auto put = [&](const Bucket& b) { combine(node, itemAt(node.buckets, b.key), b); };
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
    for (const IdBlock& b : other.m_blocks)
        itemAt(m_blocks, b.key).digest.merge(b.digest);
    for (const Stale& stale : other.m_stale.ranges())
        markStale(stale);
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

void SampleSummary::clearNode(Node& node, qint64 fromKey, qint64 toKey)
{
    const auto begin =
        std::lower_bound(node.buckets.begin(), node.buckets.end(), fromKey, lessKey<Bucket>);
    const auto end = std::lower_bound(begin, node.buckets.end(), toKey + 1, lessKey<Bucket>);
    node.buckets.erase(begin, end);
    // A coarse bucket is a whole number of fine ones.
    const qint64 ratio = m_bucketSeconds / m_fineSeconds;
    for (qint64 key = fromKey * ratio; key < (toKey + 1) * ratio; ++key) {
        const auto it = node.fine.find(floorDiv(key, FineBlock));
        if (it == node.fine.end()) {
            key = (floorDiv(key, FineBlock) + 1) * FineBlock - 1;
            continue;
        }
        it->second[size_t(key - it->first * FineBlock)] = FineCell();
    }
}

void SampleSummary::replaceRange(const QByteArray& serial, qint64 fromKey, qint64 toKey,
                                 const SampleSummary& rows)
{
    for (Node& node : m_nodes)
        if (serial.isEmpty() || node.serial == serial)
            clearNode(node, fromKey, toKey);
    merge(rows);
    unmarkStale(serial, fromKey * m_bucketSeconds, (toKey + 1) * m_bucketSeconds - 1);
}

void SampleSummary::markStale(const Stale& stale)
{
    m_stale.mark(stale);
}

void SampleSummary::unmarkStale(const QByteArray& serial, qint64 from, qint64 to)
{
    m_stale.unmark(serial, from, to);
}

bool SampleSummary::isStale(const QByteArray& serial, qint64 from, qint64 to) const
{
    return m_stale.isStale(serial, from, to);
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
        s.kinetic = sumsOf(b, start);
        s.interval = intervalSeconds();
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

std::vector<qint64> SampleSummary::bucketsOfIds(qint64 firstId, qint64 lastId) const
{
    std::vector<qint64> keys;
    for (const IdSpan& span : m_spans)
        if (span.firstId <= lastId && span.lastId >= firstId)
            keys.push_back(span.key);
    return keys;
}

bool SampleSummary::save(QIODevice* device) const
{
    return SummaryFile::save(*this, device);
}

bool SampleSummary::load(QIODevice* device)
{
    Loader loader(device);
    SampleSummary loaded;
    if (!loader.first(&loaded))
        return false;
    while (loader.hasMore()) {
        SampleSummary part = loaded.emptyCopy();
        if (!loader.next(&part))
            return false;
        loaded.merge(part);
    }
    *this = std::move(loaded);
    return true;
}
