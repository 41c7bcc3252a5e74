#pragma once

#include <QtGlobal>

// Decides at each database tick whether the waiting samples are written now: in batches of 8
// (one gateway) or 16 (two or more), and in any case before the oldest waiting sample is a
// minute old, so that a long interval cannot keep samples in memory for an hour.
class FlushPolicy
{
public:
    static constexpr int SingleGatewayBatch = 8;
    static constexpr int MultiGatewayBatch = 16;
    static constexpr int TickMs = 1500;
    static constexpr qint64 MaxAgeMs = 60000;

    // `pending` samples wait at time `nowMs`; true when they are to be written.
    bool due(int pending, int gatewayCount, qint64 nowMs);
    // After a write: `pending` samples still wait (a failed write keeps its batch).
    void flushed(int pending);
    void reset();

    // Time at which the queue was first seen holding samples; -1 while it is empty.
    qint64 firstSeen() const { return m_firstSeenMs; }

private:
    qint64 m_firstSeenMs = -1;
};
