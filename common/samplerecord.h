#pragma once

#include <QString>

// One pending database row. A channel without a value holds NoValue.
struct SampleRecord
{
    QString deviceNumber;
    double channel1 = 0;
    double channel2 = 0;
    quint32 pointDate = 0; // seconds since 1970-01-01 00:00 UTC
};
