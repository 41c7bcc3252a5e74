#include "pendingqueue.h"

#include <QDebug>
#include <QString>

#include <algorithm>

void PendingQueue::queueSample(const SampleRecord& record)
{
    if (samples >= std::max(limit, 1)) {
        // The oldest sample goes; jobs are never dropped.
        const auto oldest = std::find_if(pending.begin(), pending.end(),
                                         [](const WriteEntry& e) { return !e.isJob; });
        if (oldest != pending.end()) {
            pending.erase(oldest);
            --samples;
            ++dropped;
            if (dropped == 1 || dropped % 10000 == 0)
                qWarning().noquote()
                    << QStringLiteral("InsertSerialData::queueSample : queue full, oldest "
                                      "samples dropped : ") +
                           QString::number(dropped);
        }
    }
    pending.push_back(WriteEntry::ofSample(record));
    ++samples;
}

void PendingQueue::queueJob(const WriteJob& job, quint64 ticket)
{
    pending.push_back(WriteEntry::ofJob(job, ticket));
}

void PendingQueue::discardSamples()
{
    if (samples == 0)
        return;
    qWarning().noquote() << QStringLiteral("InsertSerialData::discardPending : ") +
                                QString::number(samples);
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [](const WriteEntry& e) { return !e.isJob; }),
                  pending.end());
    samples = 0;
    dropped = 0;
}

void PendingQueue::take(int count)
{
    const auto end =
        pending.begin() + std::min<std::ptrdiff_t>(count, std::ptrdiff_t(pending.size()));
    samples -=
        int(std::count_if(pending.begin(), end, [](const WriteEntry& e) { return !e.isJob; }));
    pending.erase(pending.begin(), end);
}
