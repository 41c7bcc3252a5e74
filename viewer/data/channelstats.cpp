#include "channelstats.h"

#include "meankinetictemperature.h"

void ChannelStats::add(double value, qint64 time, bool isOutside)
{
    ChannelStats one;
    one.count = 1;
    one.outside = isOutside ? 1 : 0;
    one.sum = value;
    one.min = one.max = value;
    one.minTime = one.maxTime = time;
    merge(one);
}

void ChannelStats::addTerm(double term, qint64 time, qint64 intervalSeconds)
{
    interval = qMax(interval, intervalSeconds);
    kinetic.add(term, time, interval);
}

void ChannelStats::merge(const ChannelStats& other)
{
    interval = qMax(interval, other.interval);
    kinetic.merge(other.kinetic, interval);
    if (other.count == 0)
        return;
    if (count == 0) {
        const KineticSums joined = kinetic;
        const qint64 joinedInterval = interval;
        *this = other;
        kinetic = joined;
        interval = joinedInterval;
        return;
    }
    // Of equal extremes the earlier counts, so the answer does not depend on the order in
    // which rows or buckets come.
    if (other.min < min || (other.min == min && other.minTime < minTime)) {
        min = other.min;
        minTime = other.minTime;
    }
    if (other.max > max || (other.max == max && other.maxTime < maxTime)) {
        max = other.max;
        maxTime = other.maxTime;
    }
    count += other.count;
    outside += other.outside;
    sum += other.sum;
}

double ChannelStats::average() const
{
    return count == 0 ? 0.0 : sum / double(count);
}

double ChannelStats::meanKinetic(MeanKineticTemperature mkt, qint64 end) const
{
    kinetic.closeInto(&mkt, end, interval);
    return mkt.value();
}
