#pragma once

#include "gatewayconfig.h"
#include "meankinetictemperature.h"
#include "reportdevicerecord.h"
#include "samplesummary.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <optional>

// The channels a user can choose: both channels of every node of the project's device list, by
// node name, channel name and unit as the recorder shows them, then both channels of each
// serial number found in the database but no longer in the project, listed by serial number.
class ChannelCatalog
{
public:
    struct Channel
    {
        QString key; // "SERIAL_channel1", as the report generator names a channel
        QByteArray serial;
        int channel = 1;
        QString nodeName;
        QString channelName;
        QString unit;
        float alarmMin = 0;
        float alarmMax = 0;
        bool inProject = true;
        // A temperature channel has a mean kinetic temperature, with the activation energy its
        // alarm rules set (0: the default) and the limit that marks it.
        std::optional<MeanKineticTemperature::Scale> scale;
        double activationEnergy = 0;
        std::optional<double> mktLimit;
    };

    void setProject(const QList<ReportDeviceRecord>& devices);
    // Adds the serial numbers that are not in the project yet; true when any was new.
    bool addSerials(const QList<QByteArray>& serials);
    // The mean kinetic temperature's activation energy and limit of the project's channels,
    // from the nodes' alarm rules (by serial number).
    void setAlarmRules(const QList<GatewayConfig>& gateways);

    const QVector<Channel>& channels() const { return m_channels; }
    int find(const QString& key) const;
    // "node - channel [unit]", without the brackets when the channel has no unit.
    static QString label(const Channel& channel);
    // Indexes of the channels whose label or serial number contains the text.
    QVector<int> filter(const QString& text) const;
    // An empty summary for this sampling interval that counts values outside these channels'
    // alarm ranges and keeps the kinetic sums of their temperature channels.
    SampleSummary summarySettings(int intervalSeconds) const;

private:
    QVector<Channel> m_channels;
};
