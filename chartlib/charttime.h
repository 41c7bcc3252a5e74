#pragma once

// Chart time: seconds since 0001-01-01 00:00:00 (proleptic Gregorian, no time zone), as a
// double so that fractions of a second can be carried.
constexpr double ChartTimeUnixEpoch = 62135596800.0;

// Unix seconds (since 1970-01-01 UTC) to chart time.
double CChart_chartTime2(int unixSeconds);
