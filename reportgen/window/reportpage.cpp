#include "reportpage.h"

#include "novalue.h"
#include "valuetext.h"

#include <QDateTime>

#include <algorithm>
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

struct ChartPoint
{
    qint64 time;
    QString timeText;
    double values[ReportColumns];
};

// Between two neighbouring points that both draw a line, a point without members, so that the
// chart (Chart.js, spanGaps off) does not join them, where every line between them crosses a
// break of its channel: from a sample at or after the first point to one at or after the
// second. Where some line between them has no break, the points stay joined: a point without
// members would cut that line too, and a break shorter than the chart's step cannot be shown.
// Lines that end or begin at one of the points are broken there anyway.
class BreakFinder
{
public:
    BreakFinder(const QList<ChartBreak>& breaks, int columns)
    {
        for (const ChartBreak& b : breaks) {
            if (b.column >= 0 && b.column < columns)
                byColumn[b.column].append(b);
        }
        for (QList<ChartBreak>& list : byColumn)
            std::sort(list.begin(), list.end(),
                      [](const ChartBreak& a, const ChartBreak& b) { return a.from < b.from; });
    }

    // Where the line breaks between the points, or -1. Called for neighbouring points in time
    // order.
    qint64 between(const ChartPoint& p, const ChartPoint& q, const bool drawn[2][ReportColumns])
    {
        qint64 at = -1;
        for (int c = 0; c < ReportColumns; ++c) {
            if (!drawn[0][c] || !drawn[1][c])
                continue;
            const QList<ChartBreak>& list = byColumn[c];
            int& i = next[c];
            while (i < list.size() && list.at(i).from < p.time)
                ++i;
            qint64 found = -1;
            for (int j = i; j < list.size() && list.at(j).from < q.time; ++j) {
                if (list.at(j).to >= q.time)
                    found = list.at(j).at;
            }
            if (found < 0)
                return -1;
            at = at < 0 ? found : qMin(at, found);
        }
        return at < 0 ? -1 : qBound(p.time + 1, at, q.time - 1);
    }

private:
    QList<ChartBreak> byColumn[ReportColumns];
    int next[ReportColumns] = {0, 0, 0, 0};
};

QString chartDataEvery(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                       const bool empty[ReportColumns], qint64 step,
                       const QList<ChartBreak>& breaks)
{
    QStringList keys;
    for (const ReportChannel& channel : channels)
        keys.append(escapeJson(channel.key()));
    const int columns = qMin(int(channels.size()), ReportColumns);

    // A point collects, for each channel, its first value in the point's step: nodes polled
    // in one tick can be stamped a second apart, and taking only the row that opens the step
    // would drop such a node's line from the chart altogether.
    QVector<ChartPoint> points;
    if (!rows.isEmpty()) {
        qint64 next =
            QDateTime::fromString(rows.first().timeText, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                .toSecsSinceEpoch();
        for (auto it = rows.constBegin(); it != rows.constEnd(); ++it) {
            const qint64 t = it.key();
            if (t >= next) {
                next = t - (t % 60) + step;
                ChartPoint point{t, it->timeText, {}};
                std::copy(it->values, it->values + ReportColumns, point.values);
                points.append(point);
                continue;
            }
            ChartPoint& point = points.last();
            for (int c = 0; c < ReportColumns; ++c) {
                if (point.values[c] == NoValue)
                    point.values[c] = it->values[c];
            }
        }
    }

    BreakFinder finder(breaks, columns);
    QStringList texts;
    bool drawn[2][ReportColumns] = {};
    for (int i = 0; i < points.size(); ++i) {
        const ChartPoint& point = points.at(i);
        QString text = QStringLiteral("{\"datetime\":\"") + point.timeText + QStringLiteral("\",");
        for (int c = 0; c < ReportColumns; ++c) {
            const double v = point.values[c];
            // What is no number cannot be drawn (nor written in JSON): a gap.
            drawn[1][c] = c < columns && !empty[c] && v != NoValue && std::isfinite(v);
            if (drawn[1][c])
                text += QLatin1Char('"') + keys.at(c) + QStringLiteral("\":") + valueText(v) +
                        QLatin1Char(',');
        }
        text.chop(1); // the comma after the last member
        if (i > 0) {
            const qint64 at = finder.between(points.at(i - 1), point, drawn);
            if (at >= 0)
                texts.append(QStringLiteral("{\"datetime\":\"") +
                             QDateTime::fromSecsSinceEpoch(at).toString(
                                 QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
                             QStringLiteral("\"}"));
        }
        texts.append(text + QLatin1Char('}'));
        std::copy(drawn[1], drawn[1] + ReportColumns, drawn[0]);
    }
    return QLatin1Char('[') + texts.join(QStringLiteral(",\n")) + QLatin1Char(']');
}

} // namespace

QString chartData(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                  const bool empty[ReportColumns], int dataInterval,
                  const QList<ChartBreak>& breaks)
{
    const qint64 step = dataInterval == 600000 ? 600 : dataInterval == 300000 ? 300 : 60;
    return chartDataEvery(rows, channels, empty, step, breaks);
}

QString chartPoints(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                    const bool empty[ReportColumns], const QList<ChartBreak>& breaks)
{
    return chartDataEvery(rows, channels, empty, 1, breaks);
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
    // 24 rows, blank where a day has fewer hours (23 on the spring change); the fall-back day's
    // 25th hour has a row of its own. A day never has more.
    const int hours = qBound(24, int(rows.size()), 25);
    return periodTable(rows, hours, QStringLiteral("Date Time"));
}

QString dayTable(const QMap<qint64, PeriodRow>& rows)
{
    return periodTable(rows, int(rows.size()), QStringLiteral("Date"));
}

} // namespace ReportPage
