#include "rowsource.h"

#include "samplestore.h"
#include "summarycache.h"

#include <QVector>

#include <limits>

RowSource::RowSource(SampleStore* store, const SummaryCache* cache) : m_store(store), m_cache(cache)
{
}

void RowSource::refresh()
{
    m_indexed = m_store->hasIndex();
}

bool RowSource::rows(const QByteArray& serial, qint64 from, qint64 to, qint64 maxId,
                     const SampleSink& sink)
{
    auto limited = [&](const SampleRow& row) { return row.id > maxId || sink(row); };
    if (m_indexed)
        return m_store->nodeRows(serial, from, to, limited);
    bool covered = false;
    qint64 firstId = 0;
    qint64 lastId = -1;
    qint64 highId = 0;
    m_cache->read([&](const SampleSummary& summary) {
        covered = !summary.isEmpty() && from >= summary.completeFrom();
        if (covered && !summary.idSpan(from, to, &firstId, &lastId))
            lastId = -1;
        highId = summary.highId();
    });
    if (!covered)
        return false;
    // Rows the summary knows lie between the ids of their buckets; newer rows lie above all of
    // them. Each part comes in time order, and the newer rows are later than the others but for
    // the few a recorder may write late, so they are put in their place.
    QVector<SampleRow> newer;
    if (maxId > highId) {
        const bool ok =
            m_store->nodeRowsInIds(serial, from, to, highId + 1, maxId, [&](const SampleRow& row) {
                newer << row;
                return true;
            });
        if (!ok)
            return false;
    }
    int next = 0;
    auto flushNewer = [&](qint64 before) {
        while (next < newer.size() && newer[next].time < before) {
            SampleRow row = newer[next++];
            row.serial = serial.constData();
            if (!sink(row))
                return false;
        }
        return true;
    };
    bool wanted = true;
    if (lastId >= firstId) {
        const bool ok = m_store->nodeRowsInIds(serial, from, to, firstId, qMin(lastId, maxId),
                                               [&](const SampleRow& row) {
                                                   wanted = flushNewer(row.time) && sink(row);
                                                   return wanted;
                                               });
        if (!ok)
            return false;
    }
    if (wanted)
        flushNewer(std::numeric_limits<qint64>::max());
    return true;
}
