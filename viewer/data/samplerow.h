#pragma once

#include <QtGlobal>

#include <functional>

// One row of the sample table as a query hands it out. The serial number points into the
// query's own buffer and is valid only inside the call that receives the row.
struct SampleRow
{
    qint64 id = 0;
    const char* serial = nullptr;
    int serialLength = 0;
    qint64 time = 0;
    double value[2] = {0, 0};
    bool present[2] = {false, false}; // false for NULL
};

// Receives the rows of a query one by one; returning false ends the query early.
using SampleSink = std::function<bool(const SampleRow&)>;
