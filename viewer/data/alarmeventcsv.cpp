#include "alarmeventcsv.h"

#include "alarmkind.h"
#include "csvexporter.h"
#include "localtimetext.h"

#include <QIODevice>

namespace {

void appendTime(const std::optional<qint64>& seconds, QByteArray* out)
{
    out->append(',');
    if (seconds) {
        LocalTimeText clock;
        clock.append(*seconds, out);
    }
    out->append(',');
    if (seconds)
        out->append(QByteArray::number(*seconds));
}

void appendValue(const std::optional<double>& value, QByteArray* out)
{
    out->append(',');
    if (value)
        CsvExporter::appendNumber(*value, out);
}

void appendText(const QString& text, QByteArray* out)
{
    out->append(',');
    out->append(CsvExporter::field(text));
}

} // namespace

AlarmEventCsv::AlarmEventCsv(const QList<ReportDeviceRecord>& devices) : m_devices(devices) {}

QByteArray AlarmEventCsv::header()
{
    return "Id,Serial,Node,Channel,Channel name,Kind,Limit,Start local time,Start Unix time,"
           "End local time,End Unix time,End,Extreme value,Extreme local time,Extreme Unix time,"
           "Acknowledged local time,Acknowledged Unix time,Acknowledged by,Comment\r\n";
}

QByteArray AlarmEventCsv::row(const AlarmEventRecord& event) const
{
    QString node;
    QString channelName;
    for (const ReportDeviceRecord& d : m_devices) {
        if (d.deviceNumber != event.serial)
            continue;
        node = d.deviceName;
        channelName = event.channel == 1 ? d.ch1Name : event.channel == 2 ? d.ch2Name : QString();
        break;
    }
    QByteArray out = QByteArray::number(event.id);
    appendText(event.serial, &out);
    appendText(node, &out);
    // An alarm of the whole node has no channel.
    out.append(',');
    if (event.channel > 0)
        out.append(QByteArray::number(event.channel));
    appendText(channelName, &out);
    appendText(alarmKindText(event.kind), &out);
    appendValue(event.limit, &out);
    appendTime(event.start, &out);
    appendTime(event.end, &out);
    appendText(alarmEndText(event.ended), &out);
    appendValue(event.extremeValue, &out);
    appendTime(event.extremeTime, &out);
    appendTime(event.acknowledgedAt, &out);
    appendText(event.acknowledgedBy, &out);
    appendText(event.comment, &out);
    out.append("\r\n");
    return out;
}

bool AlarmEventCsv::write(const QVector<AlarmEventRecord>& events, QIODevice* out)
{
    m_error.clear();
    QByteArray buffer = header();
    for (const AlarmEventRecord& event : events)
        buffer += row(event);
    if (out->write(buffer) != buffer.size()) {
        m_error = out->errorString();
        return false;
    }
    return true;
}
