#pragma once

#include <QVector>
#include <QtGlobal>

// When time without a valid sample counts as a gap. The samples tell how far apart they usually
// come: the median of up to Neighbours spacings on each side of a stretch. A stretch is a gap
// when it is longer than twice that usual spacing, and never when it is no longer than two of
// the project's intervals. So one missed poll is no gap, samples that follow the project's
// interval give the figures that interval always gave, and samples recorded at a longer
// interval than today's (10 s in a project now at 1 s) are not each a gap.
class SampleSpacing
{
public:
    static constexpr int Neighbours = 8;

    explicit SampleSpacing(qint64 interval);

    // The spacings between consecutive samples, in time order; `count` equal ones at once (the
    // spacings inside a run of samples, by their mean).
    void add(qint64 spacing, qint64 count = 1);
    int size() const { return int(entries.size()); }
    qint64 spacing(int entry) const { return entries.at(entry).spacing; }

    // The usual spacing around an entry, the entry itself left out, and never less than the
    // interval; size() stands for the time after the last sample.
    qint64 usual(int entry) const;
    // The interval in force at the sample before an entry: the usual spacing around it, or the
    // one of the spacings that led to the sample when longer (the last sample recorded at a
    // longer interval, just before it was shortened, still stands for that interval). What a
    // sample's figures (time out of limits, time without data, mean kinetic temperature) take;
    // the charts keep the usual spacing.
    qint64 inForce(int entry) const;
    bool isGapInForce(int entry) const { return spacing(entry) > 2 * inForce(entry); }
    // The longest stretch around an entry that is no gap.
    qint64 reach(int entry) const { return 2 * usual(entry); }
    bool isGap(int entry) const { return spacing(entry) > reach(entry); }

private:
    struct Entry
    {
        qint64 spacing;
        qint64 count;
    };
    // The lower median of up to Neighbours spacings before an entry and, with `after`, as many
    // after it; never less than the interval, the interval when there are none.
    qint64 median(int entry, bool after) const;

    qint64 interval;
    QVector<Entry> entries;
};
