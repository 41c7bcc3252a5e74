#pragma once

#include "storedrow.h"

#include <QByteArray>

class ViewerSampleReader;
class SummaryCache;

// One node's rows over a time range, in time order, the fastest way the file allows: through
// the range index when the recorder has built it, otherwise through the row ids the summary
// knows for each bucket of time (the rows of a time range lie between them), which spares a
// scan of the whole table for every question.
class RowSource
{
public:
    RowSource(ViewerSampleReader* store, const SummaryCache* cache);

    // Looks again whether the file has the index (the recorder may have built it meanwhile).
    void refresh();

    // Rows with pointDate in [from, to]; rows above maxId are left out. False when there is no
    // way yet (no index, and the summary does not reach back that far or its ids there are
    // being read again) or the query failed.
    bool rows(const QByteArray& serial, qint64 from, qint64 to, qint64 maxId,
              const StoredRowSink& sink);

private:
    ViewerSampleReader* m_store;
    const SummaryCache* m_cache;
    bool m_indexed = false;
};
