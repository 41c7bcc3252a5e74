#include "rowsource.h"

#include "summarycache.h"
#include "viewersamplereader.h"

#include <QVector>

#include <limits>

RowSource::RowSource(ViewerSampleReader* store, const SummaryCache* cache)
    : m_store(store), m_cache(cache)
{
}

void RowSource::refresh()
{
    m_indexed = m_store->hasIndex();
}

bool RowSource::rows(const QByteArray& serial, qint64 from, qint64 to, qint64 maxId,
                     const StoredRowSink& sink)
{
    auto limited = [&](const StoredRow& row) { return row.id > maxId || sink(row); };
    if (m_indexed)
        return m_store->nodeRows(serial, from, to, limited);
    bool covered = false;
    qint64 firstId = 0;
    qint64 lastId = -1;
    qint64 highId = 0;
    m_cache->read([&](const SampleSummary& summary) {
        covered = !summary.isEmpty() && from >= summary.completeFrom() &&
                  !summary.isStale(serial, from, to);
        if (covered && !summary.idSpan(from, to, &firstId, &lastId))
            lastId = -1;
        highId = summary.highId();
    });
    if (!covered)
        return false;
    // Rows the summary knows lie between the ids of their buckets; newer rows lie above all of
    // them. Each part comes in time order, and the newer rows are later than the others but for
    // the few a recorder may write late, so they are put in their place.
    QVector<StoredRow> newer;
    if (maxId > highId) {
        const bool ok =
            m_store->nodeRowsInIds(serial, from, to, highId + 1, maxId, [&](const StoredRow& row) {
                newer << row;
                return true;
            });
        if (!ok)
            return false;
    }
    int next = 0;
    auto flushNewer = [&](qint64 before) {
        while (next < newer.size() && newer[next].time < before) {
            StoredRow row = newer[next++];
            row.serial = serial.constData();
            if (!sink(row))
                return false;
        }
        return true;
    };
    bool wanted = true;
    if (lastId >= firstId) {
        // A newer row in the same second was written later: it counts, this one not.
        const bool ok = m_store->nodeRowsInIds(
            serial, from, to, firstId, qMin(lastId, maxId), [&](const StoredRow& row) {
                wanted = flushNewer(row.time) &&
                         ((next < newer.size() && newer[next].time == row.time) || sink(row));
                return wanted;
            });
        if (!ok)
            return false;
    }
    if (wanted)
        flushNewer(std::numeric_limits<qint64>::max());
    return true;
}
