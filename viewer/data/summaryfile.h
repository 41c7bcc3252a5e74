#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QList>

#include <limits>
#include <vector>

class QIODevice;
class SampleSummary;

// The summary's own file: written in parts by time, the newest first, and read back in that
// order, so that a view of the last days can be answered before the rest is read. The file is
// in the machine's byte order and carries a version; any other is rebuilt from the rows.
class SummaryFile
{
public:
    static bool save(const SampleSummary& summary, QIODevice* device);

    explicit SummaryFile(QIODevice* device);
    // The settings, ids, digests, stale ranges and the newest part.
    bool first(SampleSummary* summary);
    bool hasMore() const { return m_next < m_bounds.size(); }
    // The next older part, into a summary of the same settings that holds no rows.
    bool next(SampleSummary* part);
    // Every part holding times at or after this one has been read.
    qint64 loadedFrom() const { return m_loadedFrom; }

private:
    static void writePart(const SampleSummary& summary, QDataStream& out, qint64 from, qint64 to);
    bool readPart(SampleSummary* into);

    QDataStream m_in;
    QList<QByteArray> m_serials;
    std::vector<qint64> m_bounds;
    size_t m_next = 0;
    qint64 m_loadedFrom = std::numeric_limits<qint64>::max();
};
