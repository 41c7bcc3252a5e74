#include "haccppage.h"

#include "alarmkind.h"
#include "datainterval.h"
#include "novalue.h"
#include "valuetext.h"

#include <QDateTime>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString timeText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(kTimeFormat);
}

QString number(double value)
{
    return valueText(value);
}

QString cell(const QString& text, const QString& cls = QString())
{
    return (cls.isEmpty() ? QStringLiteral("<td>")
                          : QStringLiteral("<td class='") + cls + QStringLiteral("'>")) +
           text + QStringLiteral("</td>");
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

// A titled table of numbered rows (their cells after the number), then `after` (whole rows
// without numbers); widths in pixels, 0 for the rest of the line. A note goes under the title.
QString list(const QString& title, const QVector<int>& widths, const QStringList& titles,
             const QStringList& rows, const QString& none, const QString& note = QString(),
             const QString& after = QString())
{
    QString html = section(title);
    if (!note.isEmpty())
        html += QStringLiteral("<div style='margin:0 0 6px 0;'>") + note + QStringLiteral("</div>");
    html += QStringLiteral("<table class='reportbox'><colgroup>");
    for (int width : widths)
        html += width > 0 ? QStringLiteral("<col width='%1px' />").arg(width)
                          : QStringLiteral("<col />");
    html += QStringLiteral("</colgroup>") + ReportPage::headerRow(titles);
    for (int n = 0; n < rows.size(); ++n)
        html += QStringLiteral("<tr>") + cell(QString::number(n + 1), QStringLiteral("first")) +
                rows.at(n) + QStringLiteral("</tr>");
    html += after;
    if (rows.isEmpty() && after.isEmpty())
        html += QStringLiteral("<tr><td class='first L' colspan='") +
                QString::number(titles.size()) + QStringLiteral("'>") + none +
                QStringLiteral("</td></tr>");
    return html + QStringLiteral("</table>");
}

// A date over its time, to keep the event table's columns narrow.
QString stackedTime(qint64 secs)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(secs);
    return time.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("<br/>") +
           time.toString(QStringLiteral("hh:mm:ss"));
}

// The node's name as the report's header names it, else its serial number.
QString nodeName(const QList<ReportChannel>& channels, const QString& serial)
{
    for (const ReportChannel& channel : channels) {
        if (channel.serial == serial)
            return ReportPage::escapeMarkup(channel.deviceName());
    }
    return ReportPage::escapeMarkup(serial);
}

QString eventChannel(const QList<ReportChannel>& channels, const AlarmEventRecord& event)
{
    if (event.channel == 0)
        return QStringLiteral("whole node");
    const QString column = QStringLiteral("channel") + QString::number(event.channel);
    const int columns = qMin(int(channels.size()), ReportColumns);
    for (int c = 0; c < columns; ++c) {
        const ReportChannel& channel = channels.at(c);
        if (channel.serial == event.serial && channel.column == column)
            return QString::number(c + 1) + QStringLiteral(". ") +
                   ReportPage::escapeMarkup(channel.title().trimmed());
    }
    return QStringLiteral("channel ") + QString::number(event.channel);
}

// Under an acknowledged event, across the table: its corrective action and the signature of
// the acknowledgement (or "unsigned").
QString actionLine(const AlarmEventRecord& event, const QHash<qint64, QString>& signatures)
{
    const CorrectiveAction& a = event.action;
    QStringList parts;
    if (a.isEmpty()) {
        parts << QStringLiteral("no corrective action recorded");
    } else {
        if (!a.cause.isEmpty())
            parts << QStringLiteral("Cause: ") + ReportPage::escapeMarkup(a.cause);
        if (!a.actionTaken.isEmpty())
            parts << QStringLiteral("Action taken: ") + ReportPage::escapeMarkup(a.actionTaken);
        parts << QStringLiteral("Product affected: ") +
                     ReportPage::escapeMarkup(a.productAffected) +
                     (a.quantity.isEmpty()
                          ? QString()
                          : QStringLiteral(" (") + ReportPage::escapeMarkup(a.quantity) +
                                QStringLiteral(")"));
        if (!a.decidedBy.isEmpty())
            parts << QStringLiteral("Decided by: ") + ReportPage::escapeMarkup(a.decidedBy);
    }
    const auto signature = signatures.constFind(event.id);
    parts << QStringLiteral("Signature: ") + (signature == signatures.constEnd()
                                                  ? QStringLiteral("unsigned")
                                                  : ReportPage::escapeMarkup(*signature));
    QString text = parts.join(QStringLiteral("; "));
    text.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
    // Closes the event's row and opens its own, which list() closes.
    return QStringLiteral("</tr><tr><td class='first'></td><td class='L' colspan='9' "
                          "style='word-wrap:break-word;'>") +
           text + QStringLiteral("</td>");
}

QString eventRow(const QList<ReportChannel>& channels, const AlarmEventRecord& event,
                 const QHash<qint64, QString>& signatures)
{
    QString end = QStringLiteral("still active");
    if (event.end)
        end = stackedTime(*event.end) + QStringLiteral("<br/>") + alarmEndText(event.ended);
    QString extreme = QStringLiteral("-");
    if (event.extremeValue)
        extreme = number(*event.extremeValue) +
                  (event.extremeTime ? QStringLiteral("<br/>") + stackedTime(*event.extremeTime)
                                     : QString());
    QString acknowledged = QStringLiteral("not acknowledged");
    if (event.acknowledgedAt)
        acknowledged = stackedTime(*event.acknowledgedAt) + QStringLiteral("<br/>by ") +
                       ReportPage::escapeMarkup(event.acknowledgedBy);
    QString comment = ReportPage::escapeMarkup(event.comment);
    comment.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
    return cell(nodeName(channels, event.serial), QStringLiteral("L")) +
           cell(eventChannel(channels, event), QStringLiteral("L")) +
           cell(alarmKindText(event.kind)) +
           cell(event.limit ? number(*event.limit) : QStringLiteral("-")) +
           cell(stackedTime(event.start)) + cell(end) + cell(extreme) + cell(acknowledged) +
           QStringLiteral("<td class='L' style='word-wrap:break-word;'>") + comment +
           QStringLiteral("</td>") +
           (event.acknowledgedAt ? actionLine(event, signatures) : QString());
}

} // namespace

namespace HaccpPage {

QString alarmEventsSection(const QList<ReportChannel>& channels, const ReportTables& tables)
{
    // A file from before the event log has none to list, which is not "none happened".
    if (!tables.alarmLog)
        return QString();
    QStringList rows;
    for (const AlarmEventRecord& event : tables.alarmEvents)
        rows.append(eventRow(channels, event, tables.alarmSignatures));
    QString html = list(QStringLiteral("Alarm Events"), {28, 86, 100, 52, 48, 78, 92, 82, 96, 0},
                        {QStringLiteral("NO"), QStringLiteral("Node"), QStringLiteral("Channel"),
                         QStringLiteral("Kind"), QStringLiteral("Limit"), QStringLiteral("Start"),
                         QStringLiteral("End"), QStringLiteral("Extreme"),
                         QStringLiteral("Acknowledged"), QStringLiteral("Comment")},
                        rows, QStringLiteral("No alarm event."));
    // Columns as given, so that a long word in a comment wraps instead of widening the sheet.
    return html.replace(QStringLiteral("<table class='reportbox'>"),
                        QStringLiteral("<table class='reportbox' style='table-layout:fixed;'>"));
}

QString duration(qint64 seconds)
{
    return durationText(seconds);
}

QString limitsSection(const QList<ReportChannel>& channels, const ReportTables& tables)
{
    QStringList rows;
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
        QString row = cell(channelName(channels, c), QStringLiteral("L"));
        if (channel.limited)
            row += cell(number(channel.lower)) + cell(number(channel.upper)) + cell(outText(out));
        else
            row += cell(QStringLiteral("not set")) + cell(QStringLiteral("not set")) +
                   cell(QStringLiteral("-"));
        rows.append(row + cell(QString::number(excursions)) + cell(QString::number(gaps)));
    }
    return list(QStringLiteral("Critical Limits"), {50, 250, 0, 0, 0, 0, 0},
                {QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Lower limit"),
                 QStringLiteral("Upper limit"), QStringLiteral("Time out of limits"),
                 QStringLiteral("Excursions"), QStringLiteral("Data gaps")},
                rows, QString());
}

QString dayTable(const QMap<qint64, PeriodRow>& rows, const QList<ReportChannel>& channels)
{
    QString html = ReportPage::periodTableStart(
        {QStringLiteral("NO"), QStringLiteral("Date"), QStringLiteral("1.(min/max/avg)"),
         QStringLiteral("2.(min/max/avg)"), QStringLiteral("3.(min/max/avg)"),
         QStringLiteral("4.(min/max/avg)")});
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

QString listsSection(const QList<ReportChannel>& channels, const ReportTables& tables,
                     int dataInterval)
{
    QStringList excursions;
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
        excursions.append(cell(channelName(channels, e.column), QStringLiteral("L")) +
                          cell(timeText(e.start)) + cell(timeText(e.end)) +
                          cell(duration(e.end - e.start)) + cell(number(e.extreme)) +
                          cell(notes.join(QStringLiteral("; ")), QStringLiteral("L")));
    }
    QStringList gaps;
    int shortCount[ReportColumns] = {0, 0, 0, 0};
    qint64 shortSeconds[ReportColumns] = {0, 0, 0, 0};
    for (const DataGap& g : tables.gaps) {
        if (g.end - g.start < ListedGapSeconds && g.column >= 0 && g.column < ReportColumns) {
            ++shortCount[g.column];
            shortSeconds[g.column] += g.end - g.start;
            continue;
        }
        gaps.append(cell(channelName(channels, g.column), QStringLiteral("L")) +
                    cell(timeText(g.start)) + cell(timeText(g.end)) +
                    cell(duration(g.end - g.start)));
    }
    QString shortRows;
    for (int c = 0; c < ReportColumns; ++c) {
        if (shortCount[c] == 0)
            continue;
        shortRows += QStringLiteral("<tr>") + cell(QString(), QStringLiteral("first")) +
                     cell(channelName(channels, c), QStringLiteral("L")) +
                     QStringLiteral("<td class='L' colspan='3'>") + QString::number(shortCount[c]) +
                     (shortCount[c] == 1 ? QStringLiteral(" gap") : QStringLiteral(" gaps")) +
                     QStringLiteral(" shorter than 1 minute, ") + duration(shortSeconds[c]) +
                     QStringLiteral(" in all") + QStringLiteral("</td></tr>");
    }
    const QString interval =
        intervalName(dataInterval).isEmpty()
            ? QString::number(qMax(1, dataInterval / 1000)) + QStringLiteral(" sec")
            : intervalName(dataInterval);
    const QString rule =
        QStringLiteral("A data gap is time without a valid sample that is longer than twice the "
                       "usual spacing of the samples around it and longer than two sampling "
                       "intervals (") +
        interval +
        QStringLiteral(" each). Gaps of 1 minute or more are listed; shorter ones are counted "
                       "per channel.");

    QString html = list(QStringLiteral("Excursions"), {34, 210, 128, 128, 62, 58, 0},
                        {QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Start"),
                         QStringLiteral("End"), QStringLiteral("Duration"),
                         QStringLiteral("Extreme"), QStringLiteral("Note")},
                        excursions, QStringLiteral("No excursion."));
    html += list(QStringLiteral("Data Gaps"), {34, 210, 128, 128, 0},
                 {QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Start"),
                  QStringLiteral("End"), QStringLiteral("Duration")},
                 gaps, QStringLiteral("No data gap."), rule, shortRows);

    html += alarmEventsSection(channels, tables);
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
