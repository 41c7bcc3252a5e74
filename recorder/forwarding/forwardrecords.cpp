#include "forwardrecords.h"

#include "forwardstatus.h"
#include "nodeconfig.h"
#include "novalue.h"

#include <cmath>

NodeLabels NodeLabels::fromConfig(const NodeConfig& node)
{
    NodeLabels labels;
    labels.nodeName = node.deviceName;
    labels.channelName = {node.ch1Name, node.ch2Name};
    labels.unit = {channelUnitText(node.ch1Unit, node.ch1Custom),
                   channelUnitText(node.ch2Unit, node.ch2Custom)};
    return labels;
}

bool isForwardedValue(const std::optional<double>& value)
{
    return value && std::isfinite(*value) && std::fabs(*value) < NoValue;
}

QVector<ForwardSample> forwardedSamples(const StoredSampleRow& row, const NodeLabels& labels)
{
    QVector<ForwardSample> samples;
    const std::array<std::optional<double>, 2> values = {row.channel1, row.channel2};
    for (int i = 0; i < 2; ++i) {
        if (!isForwardedValue(values[size_t(i)]))
            continue;
        ForwardSample sample;
        sample.rowId = row.id;
        sample.serial = row.serial;
        sample.channel = i + 1;
        sample.value = *values[size_t(i)];
        sample.time = row.pointDate;
        sample.nodeName = labels.nodeName;
        sample.channelName = labels.channelName[size_t(i)];
        sample.unit = labels.unit[size_t(i)];
        samples.append(sample);
    }
    return samples;
}

QString forwardRecordKindText(ForwardRecordKind kind)
{
    switch (kind) {
    case ForwardRecordKind::Sample:
        break;
    case ForwardRecordKind::AlarmChange:
        return QStringLiteral("alarm change");
    case ForwardRecordKind::AuditHead:
        return QStringLiteral("audit trail head");
    case ForwardRecordKind::AlarmTest:
        return QStringLiteral("alarm test");
    }
    return QStringLiteral("row");
}

void registerForwardingTypes()
{
    qRegisterMetaType<ForwardBatch>();
    qRegisterMetaType<ForwardAck>();
    qRegisterMetaType<ForwardStatus>();
}
