#include "staleledger.h"

void StaleLedger::mark(const Stale& stale)
{
    // Ranges of one node that meet become one, so a long stretch stays one range.
    for (Stale& s : m_ranges) {
        if (s.serial == stale.serial && stale.from <= s.to + 1 && stale.to + 1 >= s.from) {
            s.from = qMin(s.from, stale.from);
            s.to = qMax(s.to, stale.to);
            if (stale.lastId >= stale.firstId) {
                s.firstId = s.lastId >= s.firstId ? qMin(s.firstId, stale.firstId) : stale.firstId;
                s.lastId = qMax(s.lastId, stale.lastId);
            }
            return;
        }
    }
    m_ranges.push_back(stale);
}

void StaleLedger::unmark(const QByteArray& serial, qint64 from, qint64 to)
{
    // Seconds read again for every node are read again for each one.
    std::vector<Stale> kept;
    for (const Stale& s : m_ranges) {
        if ((!serial.isEmpty() && s.serial != serial) || s.to < from || s.from > to) {
            kept.push_back(s);
            continue;
        }
        if (s.from < from) {
            kept.push_back(s);
            kept.back().to = from - 1;
        }
        if (s.to > to) {
            kept.push_back(s);
            kept.back().from = to + 1;
        }
    }
    m_ranges.swap(kept);
}

bool StaleLedger::isStale(const QByteArray& serial, qint64 from, qint64 to) const
{
    for (const Stale& s : m_ranges)
        if ((s.serial.isEmpty() || s.serial == serial) && s.from <= to && s.to >= from)
            return true;
    return false;
}
