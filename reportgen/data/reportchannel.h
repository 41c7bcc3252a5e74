#pragma once

#include "meankinetictemperature.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ConfiguredDevice;

// One channel of the device list as a report uses it: the node's column that the statistics
// worker reads and the texts the page shows. The report window's list items show its texts.
struct ReportChannel
{
    QString serial;       // the node's deviceNumber: the samples' serialno
    QString column;       // "channel1" or "channel2"
    QString name;         // the channel's display name
    QString device;       // the node's display name
    QString unit;         // "Temperature(°C)", ..., or the custom text
    bool limited = false; // critical limits, drawn on the chart (HACCP)
    double lower = 0;
    double upper = 0;
    // The node's alarm range in every report, for the period summary's time out of range
    // (equal bounds: none).
    bool ranged = false;
    double rangeLower = 0;
    double rangeUpper = 0;
    // A temperature channel's scale, activation energy (kJ/mol) and limit of its mean kinetic
    // temperature (ChannelAlarmRule).
    std::optional<MeanKineticTemperature::Scale> scale;
    double activationEnergy = MeanKineticTemperature::DefaultActivationEnergy;
    std::optional<double> mktLimit;

    QString key() const;        // serial "_" column
    QString itemText() const;   // name, a tab, "[", device, "]"
    QString toolTip() const;    // key "|" unit
    QString unitText() const;   // the unit text
    QString title() const;      // item text before "[", tabs removed
    QString deviceName() const; // item text after "[", without brackets

    // The serial number and the column name ("channel1", ...) of a key, or of a tooltip: serial
    // numbers may hold "_", column names do not. False for one without "_".
    static bool splitKey(const QString& key, QString* serial, QString* column);
    // The channel a key or a tooltip names; one without "_" names no column.
    static ReportChannel fromKey(const QString& key);
    // Both channels of each device, in list order, with its alarm range (ranged) and its mean
    // kinetic temperature settings. With limits (HACCP), a channel also takes the alarm range of
    // the first device of its number as its critical limits; equal bounds are no limits.
    static QList<ReportChannel> ofDevices(const QList<ConfiguredDevice*>& devices, bool limits);
    // The positions in `channels` of the channels these keys name, in this order; false, with
    // the first key that names none (or names one twice, or a fifth).
    static bool pick(const QList<ReportChannel>& channels, const QStringList& keys,
                     QList<int>* picked, QString* unknown);
};
