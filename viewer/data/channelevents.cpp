#include "channelevents.h"

#include "valuetext.h"

#include <QDateTime>

#include <algorithm>

namespace {

QString localText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

bool ChannelEvents::belongs(const AlarmEventRecord& event, const QByteArray& serial, int channel)
{
    return event.serial.toUtf8() == serial && (event.channel == 0 || event.channel == channel);
}

ChannelEvents::Listed ChannelEvents::match(const QVector<AlarmEventRecord>& events,
                                           const QVector<ChannelCatalog::Channel>& channels,
                                           const QVector<int>& chosen)
{
    Listed listed;
    for (const AlarmEventRecord& e : events) {
        const auto shown = std::find_if(chosen.cbegin(), chosen.cend(), [&](int index) {
            return belongs(e, channels[index].serial, channels[index].channel);
        });
        if (shown == chosen.cend())
            continue;
        const ChannelCatalog::Channel& c = channels[*shown];
        const QString node = c.nodeName.isEmpty() ? e.serial : c.nodeName;
        listed.events << e;
        listed.names << (e.channel == 0 ? node : node + QLatin1Char(' ') + c.channelName);
    }
    return listed;
}

QString ChannelEvents::details(const AlarmEventRecord& e, const QString& channel)
{
    QStringList lines{channel + QStringLiteral(": ") + alarmKindText(e.kind)};
    if (e.limit)
        lines << QStringLiteral("Limit: ") + valueText(*e.limit);
    lines << QStringLiteral("Start: ") + localText(e.start);
    lines << QStringLiteral("End: ") + (e.end ? localText(*e.end) + QStringLiteral(" (") +
                                                    alarmEndText(e.ended) + QLatin1Char(')')
                                              : QStringLiteral("still active"));
    if (e.extremeValue)
        lines << QStringLiteral("Extreme: ") + valueText(*e.extremeValue) +
                     (e.extremeTime ? QStringLiteral(" at ") + localText(*e.extremeTime)
                                    : QString());
    lines << (e.acknowledgedAt ? QStringLiteral("Acknowledged: ") + localText(*e.acknowledgedAt) +
                                     QStringLiteral(" by ") + e.acknowledgedBy
                               : QStringLiteral("Not acknowledged"));
    if (!e.comment.isEmpty())
        lines << QStringLiteral("Comment: ") + e.comment;
    return lines.join(QLatin1Char('\n'));
}
