#pragma once

#include "kineticsums.h"

#include <QtGlobal>

class MeanKineticTemperature;

// Statistics of one channel over a time range: the values' count and sum, the minimum and
// maximum with the time each was first reached, and how many values lay outside the alarm range;
// of a temperature channel also the sums of its mean kinetic temperature.
struct ChannelStats
{
    quint64 count = 0;
    quint64 outside = 0;
    double sum = 0;
    double min = 0;
    double max = 0;
    qint64 minTime = 0;
    qint64 maxTime = 0;
    KineticSums kinetic;
    qint64 interval = 0; // the recording interval the kinetic sums count with

    void add(double value, qint64 time, bool isOutside);
    // A temperature's term (MeanKineticTemperature::term) at a time after the terms so far.
    void addTerm(double term, qint64 time, qint64 intervalSeconds);
    // Statistics of a range before or after this one (for the kinetic sums: not overlapping).
    void merge(const ChannelStats& other);
    double average() const;
    // The mean kinetic temperature of the range ending before `end`; NaN without terms.
    double meanKinetic(MeanKineticTemperature mkt, qint64 end) const;
};
