#pragma once

#include "samplesummary.h"

#include <QReadWriteLock>

#include <functional>

// The summary shared by the thread that builds it and the thread that answers views: the
// builder changes it under the write lock, readers look under the read lock, and neither holds
// it longer than a merge or one view's look-up.
class SummaryCache
{
public:
    explicit SummaryCache(const SampleSummary& settings);

    void read(const std::function<void(const SampleSummary&)>& reader) const;
    void merge(const SampleSummary& batch, qint64 completeFrom);
    void replace(SampleSummary summary);
    void update(const std::function<void(SampleSummary&)>& writer);
    // An empty summary with the same bucket sizes and alarm ranges.
    SampleSummary emptyCopy() const;

private:
    mutable QReadWriteLock m_lock;
    SampleSummary m_settings;
    SampleSummary m_summary;
};
