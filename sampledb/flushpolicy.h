#pragma once

#include <QtGlobal>

// Decides at each database tick whether the waiting samples are written now: in batches of 8
// (one gateway) or 16 (two or more), and in any case before the oldest waiting sample is a
// minute old, so that a long interval cannot keep samples in memory for an hour. After a failed
// write it waits a few seconds before the next attempt: a file that cannot be written is not
// tried again at every tick.
class FlushPolicy
{
public:
    static constexpr int SingleGatewayBatch = 8;
    static constexpr int MultiGatewayBatch = 16;
    static constexpr int TickMs = 1500;
    static constexpr qint64 MaxAgeMs = 60000;
    static constexpr qint64 RetryBackoffMs = 5000;

    // `pending` samples wait at time `nowMs`; true when they are to be written.
    bool due(int pending, int gatewayCount, qint64 nowMs);
    // After a committed write: `pending` samples still wait (those queued meanwhile, or the rest
    // of a backlog written in parts).
    void flushed(int pending);
    // After a write that failed at `nowMs`: the samples still wait.
    void failed(qint64 nowMs);
    // True from a failed write until the next committed one.
    bool failing() const { return m_retryAtMs >= 0; }
    // True when the oldest waiting sample should have been written by now at `nowMs`: what
    // cannot be written then is kept elsewhere (the writer's journal).
    bool overdue(qint64 nowMs) const;
    // A new recording: the age of the waiting samples counts afresh; a failing file stays so.
    void reset();

private:
    // Time at which the queue was first seen holding samples; -1 while it is empty.
    qint64 m_firstSeenMs = -1;
    qint64 m_retryAtMs = -1;
};
