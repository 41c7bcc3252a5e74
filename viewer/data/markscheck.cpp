#include "markscheck.h"

#include "floordiv.h"
#include "samplesummary.h"
#include "sampletable.h"
#include "summarycache.h"

namespace {

using MarkKey = std::pair<QByteArray, qint64>;

// The seconds of a bucket of the recorder's summary.
SampleSummary::Stale staleBucket(const QByteArray& serial, qint64 bucket)
{
    SampleSummary::Stale stale;
    stale.serial = serial;
    stale.from = bucket * SampleTable::BucketSeconds;
    stale.to = stale.from + SampleTable::BucketSeconds - 1;
    return stale;
}

} // namespace

bool MarksCheck::take(ViewerSampleReader* store)
{
    m_hasMarks =
        store->hasSummary() && m_marks.read(store, &m_maxId) && store->schemaText(&m_schema);
    return m_hasMarks;
}

void MarksCheck::compare(const BucketMarks& saved, SampleSummary* summary, qint64 highId)
{
    m_pending.clear();
    m_marks.compare(saved, [&](const QByteArray& serial, qint64 bucket, qint64 grown) {
        summary->markStale(staleBucket(serial, bucket));
        // Rows added since can account for a bucket that only grew.
        if (grown > 0)
            m_pending.push_back({serial, bucket, grown});
    });
    m_open = true;
    m_forwardRows.clear();
    m_countFrom = highId;
}

void MarksCheck::clear()
{
    m_pending.clear();
    m_open = false;
    m_forwardRows.clear();
}

void MarksCheck::count(const StoredRow& row)
{
    if (row.id > m_countFrom)
        ++m_forwardRows[MarkKey(QByteArray(row.serial, row.serialLength),
                                floorDiv(row.time, SampleTable::BucketSeconds))];
}

void MarksCheck::resolve(SummaryCache* cache, qint64 highId)
{
    cache->update([&](SampleSummary& s) {
        for (const Pending& p : m_pending) {
            const auto it = m_forwardRows.find(MarkKey(p.serial, p.bucket));
            if (it != m_forwardRows.end() && it->second == p.rows) {
                const SampleSummary::Stale bucket = staleBucket(p.serial, p.bucket);
                s.unmarkStale(p.serial, bucket.from, bucket.to);
            }
        }
    });
    clear();
    m_countFrom = highId;
}

BucketMarks MarksCheck::settled(const BucketMarks& now) const
{
    return now.settled(m_marks, m_forwardRows);
}
