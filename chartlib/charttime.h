#pragma once

// Chart time: seconds since 0001-01-01 00:00:00 UTC (proleptic Gregorian), as a double so that
// fractions of a second can be carried. It is a plain count of UTC seconds, so a line never
// folds back on itself when the clocks change; only the texts made from it are local time.
constexpr double ChartTimeUnixEpoch = 62135596800.0;

// Unix seconds (since 1970-01-01 UTC) to chart time.
double CChart_chartTime2(int unixSeconds);

// The local clock at a chart time.
class ChartTime
{
public:
    // Seconds the local clock is ahead of UTC at that instant, as QDateTime has it.
    static int localOffset(double chartTime);
};
