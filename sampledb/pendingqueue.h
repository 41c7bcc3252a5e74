#pragma once

#include "samplerecord.h"
#include "writeentry.h"

#include <QtGlobal>

#include <deque>

// What waits for the writer, in order: samples and the jobs queued between them. Bounded in
// samples: beyond the limit the oldest sample is dropped with a warning (jobs never are), and the
// drops are counted until the queue next reaches the file.
class PendingQueue
{
public:
    explicit PendingQueue(int sampleLimit) : limit(sampleLimit) {}

    void setLimit(int sampleLimit) { limit = sampleLimit; }
    void queueSample(const SampleRecord& record);
    void queueJob(const WriteJob& job, quint64 ticket);
    // Samples waiting (jobs not counted).
    int sampleCount() const { return samples; }
    // Everything waiting, oldest first.
    const std::deque<WriteEntry>& entries() const { return pending; }
    // The oldest `count` entries leave the queue.
    void take(int count);
    // Samples dropped at the bound since the queue last reached the file.
    qint64 droppedCount() const { return dropped; }
    // The queue reached the file: later drops are counted afresh.
    void resetDropped() { dropped = 0; }
    // Forgets every waiting sample; jobs stay.
    void discardSamples();

private:
    std::deque<WriteEntry> pending;
    int samples = 0;
    int limit;
    qint64 dropped = 0;
};
