#pragma once

#include <QByteArray>

#include <vector>

// The seconds whose rows the summary no longer matches, per node, until they are read again.
// Views of them read the rows; the builder reads them again from the newest back.
class StaleLedger
{
public:
    // Seconds [from, to] of one node (all nodes when serial is empty) that are to be read again.
    // Rows of that time may also lie in the ids [firstId, lastId] (none when lastId < firstId).
    struct Stale
    {
        QByteArray serial;
        qint64 from = 0;
        qint64 to = 0;
        qint64 firstId = 0;
        qint64 lastId = -1;
    };

    void mark(const Stale& stale);
    void unmark(const QByteArray& serial, qint64 from, qint64 to);
    bool isStale(const QByteArray& serial, qint64 from, qint64 to) const;
    const std::vector<Stale>& ranges() const { return m_ranges; }
    // A range as it was saved, kept apart from the others as it was then.
    void restore(const Stale& stale) { m_ranges.push_back(stale); }

private:
    std::vector<Stale> m_ranges;
};
