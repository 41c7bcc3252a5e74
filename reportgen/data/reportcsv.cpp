#include "reportcsv.h"

#include "alarmkind.h"
#include "auditcsv.h"
#include "novalue.h"
#include "reportalarmtests.h"
#include "reportcalibration.h"
#include "reportsuppressions.h"

#include <QSaveFile>
#include <QTimeZone>

#include <cmath>

namespace {

using Cell = ReportCsvCell;
using Row = QVector<ReportCsvCell>;

// What every table is built from.
struct Source
{
    const ReportRun::Settings& settings;
    const ReportTables& tables;
    QString zone;

    int columns() const { return qMin(int(settings.channels.size()), ReportColumns); }
    bool haccp() const { return settings.kind == ReportKind::Haccp; }
    // A time column's header names the zone: "Start (Europe/Berlin)".
    QString timeHeader(const char* name) const
    {
        return QLatin1String(name) + QStringLiteral(" (") + zone + QLatin1Char(')');
    }
};

// "1. Temperature [Room 1]": the column number and the channel as the page's header names it.
QString channelName(const Source& s, int column)
{
    if (column < 0 || column >= s.columns())
        return QString::number(column + 1) + QLatin1Char('.');
    const ReportChannel& channel = s.settings.channels.at(column);
    return QString::number(column + 1) + QStringLiteral(". ") + channel.title().trimmed() +
           QStringLiteral(" [") + channel.deviceName() + QLatin1Char(']');
}

ReportCsvTable reportHeader(const Source& s)
{
    return {QStringLiteral("Report"),
            {QStringLiteral("Subject"), QStringLiteral("Author"), s.timeHeader("Start"),
             s.timeHeader("End")},
            {{Cell::text(s.settings.subject), Cell::text(s.settings.author),
              Cell::time(s.settings.start.toSecsSinceEpoch()),
              Cell::time(s.settings.end.toSecsSinceEpoch())}}};
}

ReportCsvTable channelsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Channels"),
                         {QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Node"),
                          QStringLiteral("Unit"), QStringLiteral("Key")},
                         {}};
    for (int c = 0; c < s.columns(); ++c) {
        const ReportChannel& channel = s.settings.channels.at(c);
        table.rows.append({Cell::count(c + 1), Cell::text(channel.title().trimmed()),
                           Cell::text(channel.deviceName()), Cell::text(channel.unitText()),
                           Cell::text(channel.key())});
    }
    return table;
}

ReportCsvTable limitsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Critical Limits"),
                         {QStringLiteral("NO"), QStringLiteral("Channel"),
                          QStringLiteral("Lower limit"), QStringLiteral("Upper limit"),
                          QStringLiteral("Time out of limits (s)"), QStringLiteral("Excursions"),
                          QStringLiteral("Data gaps")},
                         {}};
    for (int c = 0; c < s.columns(); ++c) {
        const ReportChannel& channel = s.settings.channels.at(c);
        qint64 out = 0;
        for (const PeriodRow& row : s.tables.periodRows)
            out += row.outSeconds[c];
        int excursions = 0;
        for (const Excursion& e : s.tables.excursions)
            excursions += e.column == c ? 1 : 0;
        int gaps = 0;
        for (const DataGap& g : s.tables.gaps)
            gaps += g.column == c ? 1 : 0;
        Row row{Cell::count(c + 1), Cell::text(channelName(s, c))};
        if (channel.limited)
            row << Cell::number(channel.lower) << Cell::number(channel.upper) << Cell::count(out);
        else
            row << Cell::text(QStringLiteral("not set")) << Cell::text(QStringLiteral("not set"))
                << Cell();
        table.rows.append(row << Cell::count(excursions) << Cell::count(gaps));
    }
    return table;
}

// The hourly table of a daily report, the daily one of the others; every period row, also the
// second 02:00 of an autumn night.
ReportCsvTable figuresTable(const Source& s)
{
    ReportCsvTable table;
    table.title = s.haccp() ? QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)")
                            : QStringLiteral("Data Table (Avg/Min/Max)");
    table.headers << QStringLiteral("NO")
                  << (s.settings.kind == ReportKind::Daily ? QStringLiteral("Date Time")
                                                           : QStringLiteral("Date"))
                  << s.timeHeader("Start");
    for (int c = 0; c < s.columns(); ++c) {
        const QString name = channelName(s, c) + QLatin1Char(' ');
        if (s.haccp())
            table.headers << name + QStringLiteral("min") << name + QStringLiteral("max")
                          << name + QStringLiteral("avg")
                          << name + QStringLiteral("out of limits (s)");
        else
            table.headers << name + QStringLiteral("avg") << name + QStringLiteral("min")
                          << name + QStringLiteral("max");
    }
    int n = 0;
    for (auto it = s.tables.periodRows.constBegin(); it != s.tables.periodRows.constEnd(); ++it) {
        Row row{Cell::count(++n), Cell::text(it->label), Cell::time(it.key())};
        for (int c = 0; c < s.columns(); ++c) {
            const bool values = it->min[c] != NoValue || it->max[c] != NoValue;
            const Cell avg = values || it->avg[c] != 0.0 ? Cell::number(it->avg[c]) : Cell();
            if (!s.haccp()) {
                row << avg << Cell::number(it->min[c]) << Cell::number(it->max[c]);
                continue;
            }
            const bool out = s.settings.channels.at(c).limited &&
                             (it->min[c] != NoValue || it->outSeconds[c] > 0);
            row << Cell::number(it->min[c]) << Cell::number(it->max[c])
                << (it->min[c] != NoValue ? avg : Cell())
                << (out ? Cell::count(it->outSeconds[c]) : Cell());
        }
        table.rows.append(row);
    }
    return table;
}

ReportCsvTable excursionsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Excursions"),
                         {QStringLiteral("NO"), QStringLiteral("Channel"), s.timeHeader("Start"),
                          s.timeHeader("End"), QStringLiteral("Duration (s)"),
                          QStringLiteral("Extreme"), QStringLiteral("Note")},
                         {}};
    for (const Excursion& e : s.tables.excursions) {
        QStringList notes{e.high ? QStringLiteral("above the upper limit")
                                 : QStringLiteral("below the lower limit")};
        if (e.openAtStart)
            notes.append(QStringLiteral("began before the period"));
        if (e.gapSeconds > 0)
            notes.append(QStringLiteral("includes %1 s without data").arg(e.gapSeconds));
        if (e.openAtEnd)
            notes.append(QStringLiteral("still open at the period's end"));
        table.rows.append({Cell::count(table.rows.size() + 1), Cell::text(channelName(s, e.column)),
                           Cell::time(e.start), Cell::time(e.end), Cell::count(e.end - e.start),
                           Cell::number(e.extreme), Cell::text(notes.join(QStringLiteral("; ")))});
    }
    return table;
}

// The gaps the page lists, numbered, then per channel the count and total of the short ones.
ReportCsvTable gapsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Data Gaps"),
                         {QStringLiteral("NO"), QStringLiteral("Channel"), s.timeHeader("Start"),
                          s.timeHeader("End"), QStringLiteral("Duration (s)"),
                          QStringLiteral("Note")},
                         {}};
    int shortCount[ReportColumns] = {0, 0, 0, 0};
    qint64 shortSeconds[ReportColumns] = {0, 0, 0, 0};
    for (const DataGap& g : s.tables.gaps) {
        if (g.end - g.start < ReportListedGapSeconds && g.column >= 0 && g.column < ReportColumns) {
            ++shortCount[g.column];
            shortSeconds[g.column] += g.end - g.start;
            continue;
        }
        table.rows.append({Cell::count(table.rows.size() + 1), Cell::text(channelName(s, g.column)),
                           Cell::time(g.start), Cell::time(g.end), Cell::count(g.end - g.start)});
    }
    for (int c = 0; c < ReportColumns; ++c) {
        if (shortCount[c] > 0)
            table.rows.append({Cell(), Cell::text(channelName(s, c)), Cell(), Cell(),
                               Cell::count(shortSeconds[c]),
                               Cell::text(QStringLiteral("%1 %2 shorter than 1 minute")
                                              .arg(shortCount[c])
                                              .arg(shortCount[c] == 1 ? QStringLiteral("gap")
                                                                      : QStringLiteral("gaps")))});
    }
    return table;
}

// The node's name as the report's header names it, else its serial number.
QString nodeName(const Source& s, const QString& serial)
{
    for (const ReportChannel& channel : s.settings.channels) {
        if (channel.serial == serial)
            return channel.deviceName();
    }
    return serial;
}

QString eventChannel(const Source& s, const AlarmEventRecord& event)
{
    if (event.channel == 0)
        return QStringLiteral("whole node");
    const QString column = QStringLiteral("channel") + QString::number(event.channel);
    for (int c = 0; c < s.columns(); ++c) {
        const ReportChannel& channel = s.settings.channels.at(c);
        if (channel.serial == event.serial && channel.column == column)
            return QString::number(c + 1) + QStringLiteral(". ") + channel.title().trimmed();
    }
    return QStringLiteral("channel ") + QString::number(event.channel);
}

Cell optionalTime(const std::optional<qint64>& secs)
{
    return secs ? Cell::time(*secs) : Cell();
}

// The recorder's events with their acknowledgement, corrective action and signature: an
// acknowledged event without a signature is "unsigned".
ReportCsvTable alarmEventsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Alarm Events"),
                         {QStringLiteral("NO"), QStringLiteral("Node"), QStringLiteral("Channel"),
                          QStringLiteral("Kind"), QStringLiteral("Limit"), s.timeHeader("Start"),
                          s.timeHeader("End"), QStringLiteral("Ended"), QStringLiteral("Extreme"),
                          s.timeHeader("Extreme at"), s.timeHeader("Acknowledged"),
                          QStringLiteral("Acknowledged by"), QStringLiteral("Comment"),
                          QStringLiteral("Cause"), QStringLiteral("Action taken"),
                          QStringLiteral("Product affected"), QStringLiteral("Quantity"),
                          QStringLiteral("Decided by"), QStringLiteral("Signature")},
                         {}};
    for (const AlarmEventRecord& e : s.tables.alarmEvents) {
        Row row{Cell::count(table.rows.size() + 1),
                Cell::text(nodeName(s, e.serial)),
                Cell::text(eventChannel(s, e)),
                Cell::text(alarmKindText(e.kind)),
                e.limit ? Cell::number(*e.limit) : Cell(),
                Cell::time(e.start),
                optionalTime(e.end),
                Cell::text(e.end ? alarmEndText(e.ended) : QStringLiteral("still active")),
                e.extremeValue ? Cell::number(*e.extremeValue) : Cell(),
                optionalTime(e.extremeTime),
                optionalTime(e.acknowledgedAt),
                Cell::text(e.acknowledgedBy),
                Cell::text(e.comment)};
        if (e.acknowledgedAt) {
            const CorrectiveAction& a = e.action;
            row << Cell::text(a.cause) << Cell::text(a.actionTaken) << Cell::text(a.productAffected)
                << Cell::text(a.quantity) << Cell::text(a.decidedBy)
                << Cell::text(s.tables.alarmSignatures.value(e.id, QStringLiteral("unsigned")));
        }
        table.rows.append(row);
    }
    return table;
}

ReportCsvTable suppressionsTable(const Source& s)
{
    ReportCsvTable table{QStringLiteral("Shelved Alarms and Nodes out of Service"),
                         {QStringLiteral("NO"), QStringLiteral("Node"), QStringLiteral("Channel"),
                          QStringLiteral("Kind"), s.timeHeader("From"), s.timeHeader("Until"),
                          QStringLiteral("Ended early"), QStringLiteral("Reason"),
                          QStringLiteral("By"), QStringLiteral("At the period's end")},
                         {}};
    // The page's texts of each, in the same order as the suppressions.
    const QVector<QStringList> texts = ReportSuppressions::rows(s.tables, s.settings.channels);
    for (int i = 0; i < texts.size() && i < s.tables.suppressions.size(); ++i) {
        const AlarmSuppression& a = s.tables.suppressions.at(i);
        const QStringList& t = texts.at(i);
        table.rows.append({Cell::count(i + 1), Cell::text(t.value(0)), Cell::text(t.value(1)),
                           Cell::text(t.value(2)), Cell::time(a.from), Cell::time(a.end()),
                           Cell::text(a.ended ? QStringLiteral("yes") : QString()),
                           Cell::text(t.value(5)), Cell::text(t.value(6)), Cell::text(t.value(7))});
    }
    return table;
}

ReportCsvTable periodSummaryTable(const Source& s)
{
    ReportCsvTable table{
        QStringLiteral("Period Summary"),
        {QStringLiteral("NO"), QStringLiteral("Channel"), QStringLiteral("Samples"),
         QStringLiteral("Min"), QStringLiteral("Max"), QStringLiteral("Mean"),
         QStringLiteral("MKT"), QStringLiteral("MKT limit"), QStringLiteral("MKT above limit"),
         QStringLiteral("Out of range (s)"), QStringLiteral("Longest out of range (s)"),
         QStringLiteral("Excursions"), QStringLiteral("Alarms"), QStringLiteral("Acknowledged"),
         QStringLiteral("No data (s)"), QStringLiteral("Calibration")},
        {}};
    for (int c = 0; c < s.columns() && c < s.tables.periodSummaries.size(); ++c) {
        const ChannelPeriodSummary& p = s.tables.periodSummaries.at(c);
        const ReportChannel& channel = s.settings.channels.at(c);
        const bool any = p.count > 0;
        const bool kinetic = !std::isnan(p.meanKinetic);
        Row row{
            Cell::count(c + 1),
            Cell::text(channelName(s, c)),
            Cell::count(p.count),
            any ? Cell::number(p.min) : Cell(),
            any ? Cell::number(p.max) : Cell(),
            any ? Cell::number(p.mean) : Cell(),
            kinetic ? Cell::number(p.meanKinetic) : Cell(),
            channel.mktLimit ? Cell::number(*channel.mktLimit) : Cell(),
            Cell::text(kinetic && channel.mktLimit
                           ? (p.kineticAboveLimit ? QStringLiteral("yes") : QStringLiteral("no"))
                           : QString())};
        if (p.ranged)
            row << Cell::count(p.outSeconds) << Cell::count(p.longestOutSeconds)
                << Cell::count(p.excursions);
        else
            row << Cell::text(QStringLiteral("no range")) << Cell() << Cell();
        row << Cell::count(p.alarms) << Cell::count(p.acknowledged) << Cell::count(p.noDataSeconds)
            << Cell::text(ReportCalibration::status(s.tables, channel));
        table.rows.append(row);
    }
    return table;
}

ReportCsvTable calibrationTable(const Source& s)
{
    QStringList headers = ReportCalibration::titles();
    headers.first() = QStringLiteral("NO");
    ReportCsvTable table{QStringLiteral("Calibration"), headers, {}};
    // The page's texts; numbers as numbers.
    for (const QStringList& texts : ReportCalibration::rows(s.tables, s.settings.channels)) {
        Row row;
        for (int i = 0; i < texts.size(); ++i) {
            bool number = false;
            const double value = texts.at(i).toDouble(&number);
            const bool figure = i == 0 || (i >= 7 && i <= 9);
            row << (figure && number ? (i == 0 ? Cell::count(qint64(value)) : Cell::number(value))
                    : texts.at(i) == QLatin1String("-") ? Cell()
                                                        : Cell::text(texts.at(i)));
        }
        table.rows.append(row);
    }
    return table;
}

ReportCsvTable alarmTestsTable(const Source& s)
{
    QStringList headers = ReportAlarmTests::titles();
    headers.first() = s.timeHeader("Time");
    ReportCsvTable table{QStringLiteral("Alarm Tests"), headers, {}};
    for (const AlarmTestRecord& r : s.tables.alarmTests)
        table.rows.append({Cell::time(r.time), Cell::text(r.user), Cell::text(r.nodes),
                           Cell::text(r.target), Cell::text(r.answer),
                           r.text.isEmpty() ? Cell() : Cell::text(r.text)});
    return table;
}

ReportCsvTable auditHeadTable(const Source& s)
{
    const ReportAuditHead& head = s.tables.auditHead;
    return {QStringLiteral("Audit Trail Head"),
            {QStringLiteral("Head"), s.timeHeader("Read at")},
            {{Cell::text(head.line()),
              head.readAt().isValid() ? Cell::time(head.readAt().toSecsSinceEpoch()) : Cell()}}};
}

// A table the page shows under a condition: none otherwise.
using Build = void (*)(const Source&, QList<ReportCsvTable>*);

QByteArray line(const QStringList& fields)
{
    return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QString ReportCsv::zoneName()
{
    const QString zone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return zone.isEmpty() ? QStringLiteral("local time") : zone;
}

QList<ReportCsvTable> ReportCsv::tables(const ReportRun::Settings& settings,
                                        const ReportTables& tables)
{
    const Source source{settings, tables, zoneName()};
    // In the page's order. A new table: a function above and its line here.
    const Build builds[] = {
        [](const Source& s, QList<ReportCsvTable>* out) { out->append(reportHeader(s)); },
        [](const Source& s, QList<ReportCsvTable>* out) { out->append(channelsTable(s)); },
        [](const Source& s, QList<ReportCsvTable>* out) {
            if (s.haccp())
                out->append(limitsTable(s));
        },
        [](const Source& s, QList<ReportCsvTable>* out) { out->append(figuresTable(s)); },
        [](const Source& s, QList<ReportCsvTable>* out) {
            if (s.haccp())
                *out << excursionsTable(s) << gapsTable(s);
        },
        [](const Source& s, QList<ReportCsvTable>* out) {
            // A file from before the event log has none to list, which is not "none happened".
            if (s.haccp() && s.tables.alarmLog)
                out->append(alarmEventsTable(s));
        },
        [](const Source& s, QList<ReportCsvTable>* out) { out->append(periodSummaryTable(s)); },
        [](const Source& s, QList<ReportCsvTable>* out) {
            if (!ReportCalibration::rows(s.tables, s.settings.channels).isEmpty())
                out->append(calibrationTable(s));
        },
        [](const Source& s, QList<ReportCsvTable>* out) {
            if (!s.tables.suppressions.isEmpty())
                out->append(suppressionsTable(s));
        },
        [](const Source& s, QList<ReportCsvTable>* out) {
            if (!s.tables.alarmTests.isEmpty())
                out->append(alarmTestsTable(s));
        },
        [](const Source& s, QList<ReportCsvTable>* out) { out->append(auditHeadTable(s)); },
    };
    QList<ReportCsvTable> out;
    for (Build build : builds)
        build(source, &out);
    return out;
}

QByteArray ReportCsv::document(const ReportRun::Settings& settings, const ReportTables& tables)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QByteArray out = line({AuditCsv::textField(ReportPeriod::title(settings.kind)),
                           settings.start.toString(format), settings.end.toString(format),
                           AuditCsv::textField(QStringLiteral("Times are local, ") + zoneName())});
    for (const ReportCsvTable& table : ReportCsv::tables(settings, tables)) {
        out += "\r\n" + line({AuditCsv::textField(table.title)});
        QStringList headers;
        for (const QString& header : table.headers)
            headers.append(AuditCsv::textField(header));
        out += line(headers);
        for (const Row& row : table.rows) {
            QStringList fields;
            for (const Cell& cell : row)
                fields.append(cell.field());
            while (fields.size() < table.headers.size())
                fields.append(QString());
            out += line(fields);
        }
    }
    return out;
}

bool ReportCsv::write(const QString& fileName, const ReportRun::Settings& settings,
                      const ReportTables& tables, QString* errorText)
{
    // Written whole or not at all: a half file would pass for a report with fewer rows.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *errorText = QStringLiteral("Unable to open the file.");
        return false;
    }
    const QByteArray bytes = document(settings, tables);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        *errorText = QStringLiteral("Unable to write the file.");
        return false;
    }
    return true;
}
