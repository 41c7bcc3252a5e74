#include "samplespacing.h"

#include <algorithm>

SampleSpacing::SampleSpacing(qint64 interval_) : interval(qMax<qint64>(1, interval_)) {}

void SampleSpacing::add(qint64 spacing, qint64 count)
{
    if (count > 0)
        entries.append({spacing, count});
}

qint64 SampleSpacing::usual(int entry) const
{
    return median(entry, true);
}

qint64 SampleSpacing::inForce(int entry) const
{
    return qMax(usual(entry), median(entry, false));
}

qint64 SampleSpacing::median(int entry, bool after) const
{
    Entry around[2 * Neighbours];
    int used = 0;
    qint64 total = 0;
    auto take = [&](int from, int step) {
        qint64 taken = 0;
        for (int i = from; i >= 0 && i < entries.size() && taken < Neighbours; i += step) {
            const qint64 count = qMin<qint64>(entries.at(i).count, Neighbours - taken);
            around[used++] = {entries.at(i).spacing, count};
            taken += count;
        }
        total += taken;
    };
    take(entry - 1, -1);
    if (after)
        take(entry + 1, 1);
    if (total == 0)
        return interval;
    std::sort(around, around + used,
              [](const Entry& a, const Entry& b) { return a.spacing < b.spacing; });
    // The lower median: a sample before a gap stands for no more than the shorter half of the
    // spacings around it.
    qint64 rank = (total - 1) / 2;
    for (int i = 0; i < used; ++i) {
        if (rank < around[i].count)
            return qMax(interval, around[i].spacing);
        rank -= around[i].count;
    }
    return interval;
}
