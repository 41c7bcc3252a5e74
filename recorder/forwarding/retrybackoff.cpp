#include "retrybackoff.h"

#include <QtGlobal>

#include <algorithm>

RetryBackoff::RetryBackoff(int firstMs, int maxMs)
    : m_firstMs(std::max(1, firstMs)), m_maxMs(std::max(m_firstMs, maxMs))
{
}

int RetryBackoff::next()
{
    qint64 wait = m_firstMs;
    for (int i = 0; i < m_failures && wait < m_maxMs; ++i)
        wait *= 2;
    ++m_failures;
    return int(std::min<qint64>(wait, m_maxMs));
}

void RetryBackoff::reset()
{
    m_failures = 0;
}
