#pragma once

#include <QtGlobal>

class MeanKineticTemperature;

// What a mean kinetic temperature needs of a stretch of one channel's samples, mergeable with
// the stretch before or after it. Each sample stands for the time to the next sample, at most
// one recording interval (a gap counts for nothing); the time of the last one is only known
// once the next stretch or the end of the range is, so it is held apart until then.
struct KineticSums
{
    double terms = 0;   // sum(t_i * e^(-(dH/R) / T_i)) of the samples before the last
    double seconds = 0; // sum(t_i) of those
    qint64 first = 0;   // times of the first and the last sample
    qint64 last = 0;
    double lastTerm = 0; // e^(-(dH/R) / T) of the last sample; 0 while there is none

    bool isEmpty() const { return !(lastTerm > 0); }
    // One sample, joined as a stretch of its own (at the second of the last one it replaces
    // it: the later row counts); a term of 0 (no temperature) adds nothing.
    void add(double term, qint64 time, qint64 interval);
    // Joins the stretch of another part. Parts that lie one after the other join exactly;
    // parts whose times overlap (rows taken out of time order) count the earlier last sample
    // up to the later one, at most an interval.
    void merge(const KineticSums& other, qint64 interval);
    // The sums into `mkt`, the last sample standing for the time up to `end` (exclusive), at
    // most an interval.
    void closeInto(MeanKineticTemperature* mkt, qint64 end, qint64 interval) const;
};
