#include "reportpage.h"

#include "novalue.h"
#include "valuetext.h"

#include <QDateTime>

#include <cmath>

namespace ReportPage {

QString minPeriodCode(int dataInterval)
{
    switch (dataInterval) {
    case 1000:
    case 5000:
    case 10000:
    case 60000:
        return QStringLiteral("1mm");
    case 300000:
        return QStringLiteral("5mm");
    case 600000:
        return QStringLiteral("10mm");
    default:
        return QString();
    }
}

QString dayPeriodCode()
{
    return QStringLiteral("1dd");
}

QString escapeMarkup(const QString& text)
{
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return escaped;
}

QString escapeJson(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (ch.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += ch;
        }
    }
    return out;
}

QString channelInfo(const ReportChannel& channel)
{
    return escapeMarkup(channel.title().trimmed()) + QStringLiteral(" [") +
           escapeMarkup(channel.deviceName()) + QStringLiteral("], ") +
           escapeMarkup(channel.unitText());
}

namespace {

QString chartDataEvery(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                       const bool empty[ReportColumns], qint64 step)
{
    QStringList keys;
    for (const ReportChannel& channel : channels)
        keys.append(escapeJson(channel.key()));
    const int columns = qMin(int(channels.size()), ReportColumns);

    // A point collects, for each channel, its first value in the point's step: nodes polled
    // in one tick can be stamped a second apart, and taking only the row that opens the step
    // would drop such a node's line from the chart altogether.
    QStringList points;
    if (!rows.isEmpty()) {
        qint64 next =
            QDateTime::fromString(rows.first().timeText, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                .toSecsSinceEpoch();
        QString pointTime;
        double pointValues[ReportColumns];
        auto flush = [&] {
            QString point = QStringLiteral("{\"datetime\":\"") + pointTime + QStringLiteral("\",");
            for (int c = 0; c < columns; ++c) {
                // What is no number cannot be drawn (nor written in JSON): a gap.
                if (empty[c] || pointValues[c] == NoValue || !std::isfinite(pointValues[c]))
                    continue;
                point += QLatin1Char('"') + keys.at(c) + QStringLiteral("\":") +
                         valueText(pointValues[c]) + QLatin1Char(',');
            }
            point.chop(1); // the comma after the last member
            points.append(point + QLatin1Char('}'));
        };
        for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
            const qint64 t = it.key();
            if (t >= next) {
                if (!pointTime.isEmpty())
                    flush();
                next = t - (t % 60) + step;
                pointTime = it->timeText;
                for (int c = 0; c < ReportColumns; ++c)
                    pointValues[c] = it->values[c];
                continue;
            }
            for (int c = 0; c < ReportColumns; ++c) {
                if (pointValues[c] == NoValue)
                    pointValues[c] = it->values[c];
            }
        }
        flush();
    }
    return QLatin1Char('[') + points.join(QStringLiteral(",\n")) + QLatin1Char(']');
}

} // namespace

QString chartData(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                  const bool empty[ReportColumns], int dataInterval)
{
    const qint64 step = dataInterval == 600000 ? 600 : dataInterval == 300000 ? 300 : 60;
    return chartDataEvery(rows, channels, empty, step);
}

QString chartPoints(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                    const bool empty[ReportColumns])
{
    return chartDataEvery(rows, channels, empty, 1);
}

namespace {

QString limitMembers(const ReportChannel& channel)
{
    if (!channel.limited || !std::isfinite(channel.lower) || !std::isfinite(channel.upper))
        return QString();
    return QStringLiteral(", \"lower\":") + valueText(channel.lower) +
           QStringLiteral(", \"upper\":") + valueText(channel.upper);
}

} // namespace

QString graphList(const QList<ReportChannel>& channels, const bool empty[ReportColumns])
{
    QStringList objects;
    const int columns = qMin(int(channels.size()), ReportColumns);
    for (int c = 0; c < columns; ++c) {
        if (empty[c])
            continue;
        objects.append(QStringLiteral("{\"type\":\"smoothedLine\", \"title\":\"") +
                       escapeJson(channels.at(c).title()) +
                       QStringLiteral("\", \"valueField\":\"") + escapeJson(channels.at(c).key()) +
                       QStringLiteral("\", \"lineAlpha\":0.9, \"connect\":false, \"hidden\":") +
                       (empty[c] ? QStringLiteral("true") : QStringLiteral("false")) +
                       limitMembers(channels.at(c)) + QLatin1Char('}'));
    }
    return QLatin1Char('[') + objects.join(QStringLiteral(",\n")) + QLatin1Char(']');
}

QString headerRow(const QStringList& titles)
{
    QString html = QStringLiteral("<tr>");
    for (int i = 0; i < titles.size(); ++i)
        html += (i == 0 ? QStringLiteral("<th class='top' style='border-left:0;'>")
                        : QStringLiteral("<th class='top'>")) +
                titles.at(i) + QStringLiteral("</th>");
    return html + QStringLiteral("</tr>");
}

QString periodTableStart(const QStringList& titles)
{
    return QStringLiteral("<table><colgroup><col width='50px' /><col width='170px' /><col "
                          "width='143px' /><col width='143px' /><col width='143px' /><col "
                          "width='140px' /></colgroup>") +
           headerRow(titles);
}

namespace {

QString periodTable(const QMap<qint64, PeriodRow>& rows, int rowCount, const QString& dateHeader)
{
    QString html =
        periodTableStart({QStringLiteral("NO"), dateHeader, QStringLiteral("1.(avg/min/max)"),
                          QStringLiteral("2.(avg/min/max)"), QStringLiteral("3.(avg/min/max)"),
                          QStringLiteral("4.(avg/min/max)")});
    auto it = rows.constBegin();
    for (int n = 1; n <= rowCount; ++n) {
        html +=
            QStringLiteral("<tr><td class='first'>") + QString::number(n) + QStringLiteral("</td>");
        if (it != rows.constEnd()) {
            html += QStringLiteral("<td class='C'>") + it->label + QStringLiteral("</td>");
            for (int c = 0; c < ReportColumns; ++c) {
                if (it->avg[c] == 0.0 && it->min[c] == NoValue && it->max[c] == NoValue) {
                    html += QStringLiteral("<td></td>");
                } else {
                    html += QStringLiteral("<td>") + valueText(it->avg[c]) + QLatin1Char('/') +
                            valueText(it->min[c]) + QLatin1Char('/') + valueText(it->max[c]) +
                            QStringLiteral("</td>");
                }
            }
            ++it;
        } else {
            html += QStringLiteral("<td class='C'></td><td></td><td></td><td></td><td></td>");
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    return html;
}

} // namespace

QString reportTable(const QMap<qint64, PeriodRow>& rows)
{
    return periodTable(rows, 24, QStringLiteral("Date Time"));
}

QString dayTable(const QMap<qint64, PeriodRow>& rows)
{
    return periodTable(rows, int(rows.size()), QStringLiteral("Date"));
}

} // namespace ReportPage
