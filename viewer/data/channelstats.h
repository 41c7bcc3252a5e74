#pragma once

#include <QtGlobal>

// Statistics of one channel over a time range: the values' count and sum, the minimum and
// maximum with the time each was first reached, and how many values lay outside the alarm range.
struct ChannelStats
{
    quint64 count = 0;
    quint64 outside = 0;
    double sum = 0;
    double min = 0;
    double max = 0;
    qint64 minTime = 0;
    qint64 maxTime = 0;

    void add(double value, qint64 time, bool isOutside);
    void merge(const ChannelStats& other);
    double average() const;
};
