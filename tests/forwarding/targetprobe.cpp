#include "targetprobe.h"

#include "forwardtarget.h"

TargetProbe::TargetProbe(ForwardTarget* target)
{
    connect(target, &ForwardTarget::acknowledged, this, [this](const ForwardAck& ack) {
        for (const SampleKey& key : ack.samples)
            if (!m_samples.contains({key.rowId, key.channel}))
                m_samples.insert({key.rowId, key.channel});
            else
                ++m_repeated;
        for (qint64 mark : ack.alarmChanges)
            if (!m_alarmChanges.contains(mark))
                m_alarmChanges.insert(mark);
            else
                ++m_repeated;
    });
    connect(target, &ForwardTarget::statusChanged, this,
            [this](const ForwardStatus& status) { m_statuses.append(status); });
}

bool TargetProbe::hasSample(qint64 rowId, int channel) const
{
    return m_samples.contains({rowId, channel});
}

int TargetProbe::largestInFlight() const
{
    int largest = 0;
    for (const ForwardStatus& status : m_statuses)
        largest = std::max(largest, status.inFlight);
    return largest;
}

ForwardBatch sampleBatch(const QVector<QStringList>& names, int count, qint64 start, qint64 firstId)
{
    ForwardBatch batch;
    qint64 id = firstId;
    for (int i = 0; i < count; ++i) {
        for (int n = 0; n < names.size(); ++n, ++id) {
            const QStringList& node = names.at(n);
            for (int channel = 1; channel <= 2; ++channel) {
                ForwardSample sample;
                sample.rowId = id;
                sample.serial = node.at(0);
                sample.channel = channel;
                sample.value = n * 100 + i * 0.25 + (channel == 2 ? 0.5 : 0.0);
                sample.time = start + i;
                sample.nodeName = node.at(1);
                sample.channelName = node.at(2) + QString::number(channel);
                sample.unit = node.at(3);
                batch.samples.append(sample);
            }
        }
    }
    return batch;
}
