#include "haccppage.h"

#include "novalue.h"

#include <QDateTime>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString timeText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(kTimeFormat);
}

QString number(double value)
{
    return QString::number(value, 'f', 2);
}

QString cell(const QString& text, const QString& cls = QString())
{
    return (cls.isEmpty() ? QStringLiteral("<td>")
                          : QStringLiteral("<td class='") + cls + QStringLiteral("'>")) +
           text + QStringLiteral("</td>");
}

QString header(const QStringList& titles)
{
    QString html = QStringLiteral("<tr>");
    for (int i = 0; i < titles.size(); ++i)
        html += (i == 0 ? QStringLiteral("<th class='top' style='border-left:0;'>")
                        : QStringLiteral("<th class='top'>")) +
                titles.at(i) + QStringLiteral("</th>");
    return html + QStringLiteral("</tr>");
}

QString section(const QString& title)
{
    return QStringLiteral("<div class='section'>") + title + QStringLiteral("</div>");
}

// "1. Temperature [Room 1]": the column number and the channel as the header names it.
QString channelName(const QList<ReportChannel>& channels, int column)
{
    if (column < 0 || column >= channels.size())
        return QString::number(column + 1) + QLatin1Char('.');
    const ReportChannel& channel = channels.at(column);
    return QString::number(column + 1) + QStringLiteral(". ") +
           ReportPage::escapeMarkup(channel.title().trimmed()) + QStringLiteral(" [") +
           ReportPage::escapeMarkup(channel.deviceName()) + QLatin1Char(']');
}

QString outText(qint64 seconds)
{
    const QString text = QStringLiteral("out ") + HaccpPage::duration(seconds);
    return seconds > 0
               ? QStringLiteral("<span style='color:#cc0000;'>") + text + QStringLiteral("</span>")
               : text;
}

QString emptyRow(int columns, const QString& text)
{
    return QStringLiteral("<tr><td class='first L' colspan='") + QString::number(columns) +
           QStringLiteral("'>") + text + QStringLiteral("</td></tr>");
}

} // namespace

namespace HaccpPage {

QString duration(qint64 seconds)
{
    const qint64 s = qMax<qint64>(0, seconds);
    return QString::number(s / 3600) + QLatin1Char(':') +
           QStringLiteral("%1:%2")
               .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
               .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString limitsSection(const QList<ReportChannel>& channels, const ReportTables& tables)
{
    QString html =
        section(QStringLiteral("Critical Limits")) +
        QStringLiteral("<table class='reportbox'><colgroup><col width='50px' /><col "
                       "width='250px' /><col /><col /><col /><col /><col "
                       "/></colgroup>") +
        header({QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Lower limit"),
                QStringLiteral("Upper limit"), QStringLiteral("Time out of limits"),
                QStringLiteral("Excursions"), QStringLiteral("Data gaps")});
    const int columns = qMin(int(channels.size()), ReportColumns);
    for (int c = 0; c < columns; ++c) {
        const ReportChannel& channel = channels.at(c);
        qint64 out = 0;
        for (const PeriodRow& row : tables.periodRows)
            out += row.outSeconds[c];
        int excursions = 0;
        for (const Excursion& e : tables.excursions)
            excursions += e.column == c ? 1 : 0;
        int gaps = 0;
        for (const DataGap& g : tables.gaps)
            gaps += g.column == c ? 1 : 0;
        html += QStringLiteral("<tr>") + cell(QString::number(c + 1), QStringLiteral("first")) +
                cell(channelName(channels, c), QStringLiteral("L"));
        if (channel.limited)
            html += cell(number(channel.lower)) + cell(number(channel.upper)) + cell(outText(out));
        else
            html += cell(QStringLiteral("not set")) + cell(QStringLiteral("not set")) +
                    cell(QStringLiteral("-"));
        html += cell(QString::number(excursions)) + cell(QString::number(gaps)) +
                QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString dayTable(const QMap<qint64, PeriodRow>& rows, const QList<ReportChannel>& channels)
{
    QString html = QStringLiteral("<table><colgroup><col width='50px' /><col width='170px' /><col "
                                  "width='143px' /><col width='143px' /><col width='143px' /><col "
                                  "width='140px' /></colgroup>") +
                   header({QStringLiteral("NO"), QStringLiteral("Date"),
                           QStringLiteral("1.(min/max/avg)"), QStringLiteral("2.(min/max/avg)"),
                           QStringLiteral("3.(min/max/avg)"), QStringLiteral("4.(min/max/avg)")});
    const int columns = qMin(int(channels.size()), ReportColumns);
    int n = 0;
    for (const PeriodRow& row : rows) {
        html += QStringLiteral("<tr>") + cell(QString::number(++n), QStringLiteral("first")) +
                cell(row.label, QStringLiteral("C"));
        for (int c = 0; c < ReportColumns; ++c) {
            const bool values = row.min[c] != NoValue;
            QString text;
            if (values)
                text = number(row.min[c]) + QLatin1Char('/') + number(row.max[c]) +
                       QLatin1Char('/') + number(row.avg[c]);
            if (c < columns && channels.at(c).limited && (values || row.outSeconds[c] > 0))
                text += (text.isEmpty() ? QString() : QStringLiteral("<br/>")) +
                        outText(row.outSeconds[c]);
            html += cell(text);
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString listsSection(const QList<ReportChannel>& channels, const ReportTables& tables)
{
    QString html = section(QStringLiteral("Excursions")) +
                   QStringLiteral("<table class='reportbox'><colgroup><col width='34px' /><col "
                                  "width='210px' /><col width='128px' /><col width='128px' /><col "
                                  "width='62px' /><col width='58px' /><col /></colgroup>") +
                   header({QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Start"),
                           QStringLiteral("End"), QStringLiteral("Duration"),
                           QStringLiteral("Extreme"), QStringLiteral("Note")});
    int n = 0;
    for (const Excursion& e : tables.excursions) {
        QStringList notes{e.high ? QStringLiteral("above the upper limit")
                                 : QStringLiteral("below the lower limit")};
        if (e.openAtStart)
            notes.append(QStringLiteral("began before the period"));
        if (e.gapSeconds > 0)
            notes.append(QStringLiteral("includes ") + duration(e.gapSeconds) +
                         QStringLiteral(" without data"));
        if (e.openAtEnd)
            notes.append(QStringLiteral("still open at the period's end"));
        html +=
            QStringLiteral("<tr>") + cell(QString::number(++n), QStringLiteral("first")) +
            cell(channelName(channels, e.column), QStringLiteral("L")) + cell(timeText(e.start)) +
            cell(timeText(e.end)) + cell(duration(e.end - e.start)) + cell(number(e.extreme)) +
            cell(notes.join(QStringLiteral("; ")), QStringLiteral("L")) + QStringLiteral("</tr>");
    }
    if (n == 0)
        html += emptyRow(7, QStringLiteral("No excursion."));
    html += QStringLiteral("</table>");

    html += section(QStringLiteral("Data Gaps")) +
            QStringLiteral("<table class='reportbox'><colgroup><col width='34px' /><col "
                           "width='210px' /><col width='128px' /><col width='128px' /><col "
                           "/></colgroup>") +
            header({QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Start"),
                    QStringLiteral("End"), QStringLiteral("Duration")});
    n = 0;
    for (const DataGap& g : tables.gaps) {
        html += QStringLiteral("<tr>") + cell(QString::number(++n), QStringLiteral("first")) +
                cell(channelName(channels, g.column), QStringLiteral("L")) +
                cell(timeText(g.start)) + cell(timeText(g.end)) + cell(duration(g.end - g.start)) +
                QStringLiteral("</tr>");
    }
    if (n == 0)
        html += emptyRow(5, QStringLiteral("No data gap."));
    html += QStringLiteral("</table>");

    html += section(QStringLiteral("Verification")) +
            QStringLiteral("<table class='reportbox'><colgroup><col width='150px' /><col "
                           "/></colgroup>"
                           "<tr><th class='left'>Checked by</th><td class='L' "
                           "style='height:40px;'></td></tr>"
                           "<tr><th class='left'>Date</th><td class='L' "
                           "style='height:40px;'></td></tr>"
                           "<tr><th class='left'>Corrective action</th><td class='L' "
                           "style='height:110px;'></td></tr></table>");
    return html;
}

} // namespace HaccpPage
