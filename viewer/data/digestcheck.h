#pragma once

#include <QtGlobal>

#include <limits>

class ViewerSampleReader;
class SummaryCache;

// The check of an earlier session's summary on a file without the recorder's summary: each
// block of row ids is counted again (count, sum of ids, first and last second), the newest
// first, and the buckets of a block that differs are marked to be read again. Until a block is
// counted, nothing before its latest second is taken from the saved summary.
class DigestCheck
{
public:
    // Blocks of ids counted again before the thread looks at its events.
    static constexpr int BlocksPerTurn = 8;

    // Counts the blocks of the summarized ids [lowId, highId] from the newest on.
    void start(qint64 lowId, qint64 highId);
    // Nothing to count: the summary is checked otherwise, or made afresh.
    void stop();
    bool isRunning() const { return m_running; }
    // Every row at or after this time is checked.
    qint64 checkedFrom() const { return m_checkedFrom; }

    // Counts the next blocks; false when the file could not be read. `changed` tells whether a
    // block differed.
    bool turn(ViewerSampleReader* store, SummaryCache* cache, qint64 lowId, qint64 highId, bool* changed);

private:
    bool m_running = false;
    // The blocks still to be counted, from m_key down to m_end.
    qint64 m_key = 0;
    qint64 m_end = 0;
    qint64 m_checkedFrom = std::numeric_limits<qint64>::min();
};
