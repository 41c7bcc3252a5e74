#include "flushpolicy.h"

bool FlushPolicy::due(int pending, int gatewayCount, qint64 nowMs)
{
    if (pending <= 0) {
        m_firstSeenMs = -1;
        return false;
    }
    if (m_firstSeenMs < 0)
        m_firstSeenMs = nowMs;
    if (failing())
        return nowMs >= m_retryAtMs;
    const int batch = gatewayCount < 2 ? SingleGatewayBatch : MultiGatewayBatch;
    if (pending >= batch)
        return true;
    // The oldest sample may have been queued up to one tick before it was first seen here.
    return nowMs - m_firstSeenMs >= MaxAgeMs - TickMs;
}

void FlushPolicy::flushed(int pending)
{
    m_retryAtMs = -1;
    if (pending <= 0)
        m_firstSeenMs = -1;
}

void FlushPolicy::failed(qint64 nowMs)
{
    m_retryAtMs = nowMs + RetryBackoffMs;
}

void FlushPolicy::reset()
{
    m_firstSeenMs = -1;
}

bool FlushPolicy::overdue(qint64 nowMs) const
{
    // As in due(): the oldest may have been queued a tick before it was first seen.
    return m_firstSeenMs >= 0 && nowMs - m_firstSeenMs >= MaxAgeMs - TickMs;
}
