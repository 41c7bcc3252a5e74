#pragma once

#include "forwardrecords.h"
#include "forwardstatus.h"

#include <QObject>
#include <QSet>
#include <QVector>

class ForwardTarget;

// Records what a target reports: every acknowledgement and every status, for the target tests.
class TargetProbe : public QObject
{
    Q_OBJECT

public:
    explicit TargetProbe(ForwardTarget* target);

    int samplesAcknowledged() const { return m_samples.size(); }
    int alarmChangesAcknowledged() const { return m_alarmChanges.size(); }
    // Acknowledgements of a record already acknowledged once.
    int repeated() const { return m_repeated; }
    bool hasSample(qint64 rowId, int channel) const;
    const QVector<ForwardStatus>& statuses() const { return m_statuses; }
    ForwardStatus last() const
    {
        return m_statuses.isEmpty() ? ForwardStatus() : m_statuses.last();
    }
    int largestInFlight() const;

private:
    QSet<QPair<qint64, int>> m_samples;
    QSet<qint64> m_alarmChanges;
    int m_repeated = 0;
    QVector<ForwardStatus> m_statuses;
};

// `count` samples for each node and channel, one second apart from `start`, row ids from
// `firstId`; the node's serial, name, channel names and unit from `names` (four texts each).
ForwardBatch sampleBatch(const QVector<QStringList>& names, int count, qint64 start,
                         qint64 firstId);
