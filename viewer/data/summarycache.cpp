#include "summarycache.h"

SummaryCache::SummaryCache(const SampleSummary& settings)
    : m_settings(settings), m_summary(settings)
{
}

void SummaryCache::read(const std::function<void(const SampleSummary&)>& reader) const
{
    QReadLocker lock(&m_lock);
    reader(m_summary);
}

void SummaryCache::merge(const SampleSummary& batch, qint64 completeFrom)
{
    QWriteLocker lock(&m_lock);
    m_summary.merge(batch);
    m_summary.setCompleteFrom(completeFrom);
}

void SummaryCache::replace(SampleSummary summary)
{
    QWriteLocker lock(&m_lock);
    m_summary = std::move(summary);
}

void SummaryCache::update(const std::function<void(SampleSummary&)>& writer)
{
    QWriteLocker lock(&m_lock);
    writer(m_summary);
}

SampleSummary SummaryCache::emptyCopy() const
{
    return m_settings;
}
