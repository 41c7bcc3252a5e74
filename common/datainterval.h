#pragma once

#include <QString>

// The sampling interval of a project that has none yet, in milliseconds. Each open project
// keeps its own interval, in its gateways and in the recorder's window.
constexpr int DefaultDataInterval = 10000;

// Display name of an interval ("1 sec" ... "10 min"); empty for any value the recorder does not
// offer.
QString intervalName(int milliseconds);

// The intervals the recorder offers, shortest first.
const int* offeredIntervals(int* count);
