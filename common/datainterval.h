#pragma once

#include <QString>

// The process-wide sampling interval in milliseconds. Set when a project is loaded or its
// devices are confirmed in the editor; back to the default when the project closes.
extern int dataInterval;
constexpr int DefaultDataInterval = 10000;

// Display name of an interval ("1 sec" ... "10 min"); empty for any value the recorder does not
// offer.
QString intervalName(int milliseconds);

// The intervals the recorder offers, shortest first.
const int* offeredIntervals(int* count);
