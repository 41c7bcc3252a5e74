#include "periodsummary.h"

#include "reportcalibration.h"
#include "samplereader.h"
#include "valuetext.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

int columnNumber(const ReportChannel& channel)
{
    if (channel.column == QLatin1String("channel1"))
        return 1;
    if (channel.column == QLatin1String("channel2"))
        return 2;
    return 0;
}

bool concerns(const AlarmEventRecord& event, const ReportChannel& channel)
{
    return event.serial == channel.serial &&
           (event.channel == 0 || event.channel == columnNumber(channel));
}

QString number(double value)
{
    return valueText(value);
}

} // namespace

void PeriodSummary::configure(const ReportChannel& channel, ChannelAnalysis::Settings* settings)
{
    if (channel.limited && channel.lower != channel.upper) {
        settings->limited = true;
        settings->lower = channel.lower;
        settings->upper = channel.upper;
    } else if (channel.ranged) {
        settings->limited = true;
        settings->lower = channel.rangeLower;
        settings->upper = channel.rangeUpper;
    }
    settings->scale = channel.scale;
    settings->activationEnergy = channel.activationEnergy;
}

ChannelPeriodSummary PeriodSummary::of(const ChannelAnalysis& analysis,
                                       const ReportChannel& channel, int column,
                                       const QVector<AlarmEventRecord>& events)
{
    ChannelPeriodSummary summary;
    for (const ChannelAnalysis::Day& day : analysis.dayFigures()) {
        if (day.count == 0)
            continue;
        summary.min = summary.count == 0 ? day.min : qMin(summary.min, day.min);
        summary.max = summary.count == 0 ? day.max : qMax(summary.max, day.max);
        summary.mean += day.sum;
        summary.count += day.count;
    }
    if (summary.count > 0)
        summary.mean /= summary.count;
    summary.meanKinetic = std::nan("");
    if (channel.scale && summary.count > 0) {
        const MeanKineticTemperature mkt = analysis.meanKinetic();
        summary.meanKinetic = mkt.value();
        summary.kineticAboveLimit =
            channel.mktLimit && !mkt.isEmpty() && summary.meanKinetic > *channel.mktLimit;
    }
    summary.ranged = (channel.limited && channel.lower != channel.upper) || channel.ranged;
    if (summary.ranged) {
        for (const qint64 seconds : analysis.outSeconds())
            summary.outSeconds += seconds;
        const QList<Excursion> excursions = analysis.excursions(column);
        summary.excursions = int(excursions.size());
        for (const Excursion& e : excursions)
            summary.longestOutSeconds =
                qMax(summary.longestOutSeconds, e.end - e.start - e.gapSeconds);
    }
    for (const DataGap& gap : analysis.gaps(column))
        summary.noDataSeconds += gap.end - gap.start;
    for (const AlarmEventRecord& event : events) {
        if (!concerns(event, channel))
            continue;
        ++summary.alarms;
        if (event.isAcknowledged())
            ++summary.acknowledged;
    }
    return summary;
}

bool PeriodSummary::readAlarmEvents(SampleConnection* connection,
                                    const QList<ReportChannel>& channels, qint64 from, qint64 to,
                                    QVector<AlarmEventRecord>* events, bool* logged)
{
    *logged = connection->hasAlarmEvents();
    if (!*logged)
        return true;
    QStringList serials;
    for (const ReportChannel& channel : channels) {
        if (!serials.contains(channel.serial))
            serials.append(channel.serial);
    }
    QVector<AlarmEventRecord> all;
    if (!connection->alarmEvents(from, to, serials, &all)) {
        qDebug().noquote() << connection->errorText();
        return false;
    }
    // A node's own alarms (no data, battery) concern every channel of it the report shows.
    for (const AlarmEventRecord& event : qAsConst(all)) {
        if (std::any_of(channels.cbegin(), channels.cend(),
                        [&event](const ReportChannel& c) { return concerns(event, c); }))
            events->append(event);
    }
    return true;
}

bool PeriodSummary::read(const QString& databasePath, qint64 from, qint64 to, int intervalMs,
                         const QList<ReportChannel>& channels, ReportTables* tables)
{
    const int columns = qMin(int(channels.size()), ReportColumns);
    const qint64 interval = qMax(1, intervalMs / 1000);
    // The whole period is one "day" of the analysis; the chart step is of no use here.
    std::vector<ChannelAnalysis::Settings> settings;
    QVector<SampleReader::Node> nodes;
    QVector<int> nodeOf;
    for (int c = 0; c < columns; ++c) {
        const ReportChannel& channel = channels.at(c);
        settings.emplace_back(QVector<qint64>{from, to}, to - from, interval);
        configure(channel, &settings.back());
        int n = 0;
        while (n < nodes.size() && nodes.at(n).serial != channel.serial)
            ++n;
        if (n == nodes.size())
            nodes.append({channel.serial, false, false});
        (columnNumber(channel) == 2 ? nodes[n].channel2 : nodes[n].channel1) = true;
        nodeOf.append(n);
    }
    std::vector<ChannelAnalysis> analyses;
    for (int c = 0; c < columns; ++c)
        analyses.emplace_back(&settings[size_t(c)]);

    SampleReader reader(databasePath);
    const qint64 margin = ChannelAnalysis::edgeMargin(interval);
    const bool ok = reader.read(
        nodes, from - margin, to - 1 + margin, [&](int node, qint64 t, double v1, double v2) {
            for (int c = 0; c < columns; ++c) {
                if (nodeOf.at(c) == node)
                    analyses[size_t(c)].add(t, columnNumber(channels.at(c)) == 2 ? v2 : v1);
            }
        });
    QVector<AlarmEventRecord> events;
    bool logged = false;
    if (!ok ||
        !readAlarmEvents(&reader, channels.mid(0, columns), from, to - 1, &events, &logged)) {
        qDebug().noquote() << QStringLiteral("PeriodSummary::read : ") + reader.errorText();
        return false;
    }
    tables->periodSummaries.clear();
    for (int c = 0; c < columns; ++c)
        tables->periodSummaries.append(of(analyses[size_t(c)], channels.at(c), c, events));
    return true;
}

QStringList PeriodSummary::titles()
{
    return {
        QStringLiteral("No."),           QStringLiteral("Channel"), QStringLiteral("Min"),
        QStringLiteral("Max"),           QStringLiteral("Mean"),    QStringLiteral("MKT"),
        QStringLiteral("Out of Range"),  QStringLiteral("Longest"), QStringLiteral("Excursions"),
        QStringLiteral("Alarms (Ack.)"), QStringLiteral("No Data"), QStringLiteral("Calibration")};
}

QVector<QStringList> PeriodSummary::rows(const ReportTables& tables,
                                         const QList<ReportChannel>& channels)
{
    QVector<QStringList> rows;
    const QString none = QStringLiteral("-");
    for (int c = 0; c < tables.periodSummaries.size() && c < channels.size(); ++c) {
        const ChannelPeriodSummary& s = tables.periodSummaries.at(c);
        const ReportChannel& channel = channels.at(c);
        QStringList row{QString::number(c + 1), channel.title() + QStringLiteral(" [") +
                                                    channel.deviceName() + QStringLiteral("]")};
        const bool any = s.count > 0;
        row << (any ? number(s.min) : none) << (any ? number(s.max) : none)
            << (any ? number(s.mean) : none);
        QString kinetic = std::isnan(s.meanKinetic) ? none : number(s.meanKinetic);
        if (s.kineticAboveLimit && channel.mktLimit)
            kinetic += QStringLiteral(" (above ") + number(*channel.mktLimit) + QLatin1Char(')');
        row << kinetic;
        if (s.ranged)
            row << durationText(s.outSeconds) << durationText(s.longestOutSeconds)
                << QString::number(s.excursions);
        else
            row << QStringLiteral("no range") << none << none;
        row << QString::number(s.alarms) + QStringLiteral(" (") + QString::number(s.acknowledged) +
                   QLatin1Char(')')
            << durationText(s.noDataSeconds) << ReportCalibration::status(tables, channel);
        rows.append(row);
    }
    return rows;
}
