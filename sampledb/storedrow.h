#pragma once

#include <QtGlobal>

#include <functional>

// One row of the sample table as the reader hands it out. The serial number points into the
// reader's own buffer and is valid only inside the call that receives the row.
struct StoredRow
{
    qint64 id = 0;
    const char* serial = nullptr;
    int serialLength = 0;
    qint64 time = 0;
    double value[2] = {0, 0};
    // False for NULL and for the no-value marker: neither is a measured value.
    bool present[2] = {false, false};
};

// Receives the rows of a query one by one; returning false ends the query early.
using StoredRowSink = std::function<bool(const StoredRow&)>;
