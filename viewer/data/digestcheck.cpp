#include "digestcheck.h"

#include "floordiv.h"
#include "samplesummary.h"
#include "summarycache.h"

#include <algorithm>
#include <vector>

namespace {

constexpr qint64 Everything = std::numeric_limits<qint64>::min();
constexpr qint64 Nothing = std::numeric_limits<qint64>::max();

} // namespace

void DigestCheck::start(qint64 lowId, qint64 highId)
{
    m_running = true;
    m_key = floorDiv(highId, SampleSummary::BlockIds);
    m_end = floorDiv(lowId, SampleSummary::BlockIds);
    m_checkedFrom = Nothing;
}

void DigestCheck::stop()
{
    m_running = false;
    m_checkedFrom = Everything;
}

bool DigestCheck::turn(ViewerSampleReader* store, SummaryCache* cache, qint64 lowId, qint64 highId,
                       bool* changedAny)
{
    std::vector<SampleSummary::IdBlock> saved;
    cache->read(
        [&](const SampleSummary& s) { saved.assign(s.idBlocks().begin(), s.idBlocks().end()); });
    auto savedBlock = [&](qint64 key) {
        const auto it =
            std::lower_bound(saved.begin(), saved.end(), key,
                             [](const SampleSummary::IdBlock& b, qint64 k) { return b.key < k; });
        SampleSummary::IdBlock block;
        block.key = key;
        return it != saved.end() && it->key == key ? *it : block;
    };
    std::vector<SampleSummary::Stale> changed;
    std::vector<SampleSummary::IdBlock> counted;
    // Taken as checked only when the whole turn went through.
    qint64 key = m_key;
    for (int i = 0; i < BlocksPerTurn && key >= m_end; ++i, --key) {
        const qint64 first = qMax(key * SampleSummary::BlockIds, lowId);
        const qint64 last = qMin((key + 1) * SampleSummary::BlockIds - 1, highId);
        ViewerSampleReader::IdDigest now;
        if (!store->idDigest(first, last, &now))
            return false;
        if (now == savedBlock(key).digest)
            continue;
        // The buckets of the rows that were there (the summary knows their ids) and of those
        // there now are read again.
        std::vector<qint64> keys;
        qint64 bucket = 1;
        cache->read([&](const SampleSummary& s) {
            keys = s.bucketsOfIds(first, last);
            bucket = s.bucketSeconds();
        });
        const bool ok = store->idRows(first, last, false, [&](const StoredRow& row) {
            keys.push_back(floorDiv(row.time, bucket));
            return true;
        });
        if (!ok)
            return false;
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (size_t k = 0; k < keys.size();) {
            size_t end = k + 1;
            while (end < keys.size() && keys[end] == keys[end - 1] + 1)
                ++end;
            SampleSummary::Stale stale;
            stale.from = keys[k] * bucket;
            stale.to = (keys[end - 1] + 1) * bucket - 1;
            stale.firstId = first;
            stale.lastId = last;
            changed.push_back(stale);
            k = end;
        }
        SampleSummary::IdBlock block;
        block.key = key;
        block.digest = now;
        counted.push_back(block);
    }
    m_key = key;
    if (m_key < m_end) {
        m_running = false;
        m_checkedFrom = Everything;
    } else {
        // Every row at or after the latest second of a block not counted yet is checked.
        qint64 latest = Everything;
        for (const SampleSummary::IdBlock& b : saved)
            if (b.key <= m_key && b.digest.count > 0)
                latest = qMax(latest, b.digest.lastTime);
        m_checkedFrom = latest == Everything ? Everything : latest + 1;
    }
    cache->update([&](SampleSummary& s) {
        for (const SampleSummary::Stale& stale : changed)
            s.markStale(stale);
        for (const SampleSummary::IdBlock& block : counted)
            s.setIdBlock(block);
    });
    *changedAny = !changed.empty();
    return true;
}
