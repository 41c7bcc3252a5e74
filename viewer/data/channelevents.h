#pragma once

#include "alarmeventrecord.h"
#include "channelcatalog.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Which of the shown channels an alarm event belongs to: an event of one channel to that
// channel, one of a whole node (no data, battery) to each of the node's channels.
class ChannelEvents
{
public:
    // The events listed, and per event the name it is listed under.
    struct Listed
    {
        QVector<AlarmEventRecord> events;
        QStringList names;
    };

    static bool belongs(const AlarmEventRecord& event, const QByteArray& serial, int channel);
    // The events of the chosen catalog channels, in the order they came. An event is named after
    // the first chosen channel it belongs to: its node's name (the serial number for a node
    // without one), with the channel's name for an event of one channel.
    static Listed match(const QVector<AlarmEventRecord>& events,
                        const QVector<ChannelCatalog::Channel>& channels,
                        const QVector<int>& chosen);
    // The whole event, for what the list's cells leave out.
    static QString details(const AlarmEventRecord& event, const QString& name);
};
