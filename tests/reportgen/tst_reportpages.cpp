// Regression guard for the report pages: each fixture is made into a report through the report
// window, and the filled page (its HTML with the inline scripts left out and the printing time
// masked) and, for daily reports, the statistics worker's tables at full precision are compared
// with the files under golden/ that the program wrote when they were accepted. Any change in
// how rows are read, periods cut, values condensed or the page filled shows as a difference.
// Run under TZ=Europe/Berlin (days of 23 and 25 hours). QUILLMAR_WRITE_GOLDEN=1 writes the
// files instead of comparing them.

#include "alarmsuppressiontable.h"
#include "alarmtesttable.h"
#include "generateaveragequeries.h"
#include "novalue.h"
#include "report.h"
#include "reportbatch.h"
#include "reportcommandline.h"
#include "reportfixture.h"
#include "configureddevice.h"
#include "reportstartup.h"
#include "reporttables.h"
#include "reportwebpage.h"
#include "sqliteconnection.h"
#include "valuetext.h"

#include <QComboBox>
#include <QCommandLinkButton>
#include <QDateTimeEdit>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QWebElement>
#include <QWebFrame>
#include <QtMath>
#include <QtTest>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using namespace ReportFixture;

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

struct PageCase
{
    QString tag;
    QString file; // base name of the golden files; cases that must agree share theirs
    QList<Sample> samples;
    QStringList nodes; // device numbers of the project's device list
    QList<QVector<double>> limits;
    int interval = 60000;
    QString recordStart;
    QString recordStop;
    ReportKind kind = ReportKind::Daily;
    QString start; // daily: "yyyy-MM-dd hh:mm:ss"; others: the first day; empty: the default
    HaccpSpan span = HaccpSpan::Day;
    QStringList keys;
    QString subject = QStringLiteral("Cold store");
    QString author = QStringLiteral("QA");
    bool wal = false;
    bool summary = false;        // index and summary, as the recorder makes a file now
    bool writerOpen = false;     // a recorder writes to the file while the report is made
    bool removeDatabase = false; // the file goes after the window opened
    // Local times: a stretch where the chart draws its lines, and one (a stop) where it draws
    // none.
    QStringList drawnAndQuiet;
    bool alarmLog = false; // the file keeps the recorder's alarm event log
    QVector<AlarmEventRecord> events;
    QVector<AuditEntry> audit; // the file's audit trail; none without entries
    QVector<AlarmSuppression> suppressions; // shelves and out-of-service times in the file
    QVector<qint64> signedEvents; // events whose acknowledgement is signed (by Olga Berg)
    QVector<AlarmTestRecord> alarmTests; // the file's alarm-test log, one row per target
};

qint64 at(const QString& text)
{
    return localSecs(text);
}

// Unix seconds of a UTC time: names the instants of a repeated local hour.
qint64 utc(const QString& text)
{
    return QDateTime(QDate::fromString(text.left(10), Qt::ISODate),
                     QTime::fromString(text.mid(11), Qt::ISODate), Qt::UTC)
        .toSecsSinceEpoch();
}

Sample one(const QString& serial, const QString& time, const QVariant& v1,
           const QVariant& v2 = QVariant())
{
    return {serial, v1, v2, at(time)};
}

// March 2026 at a 5-minute interval, three nodes. Cold store CS_01 (2 to 8) runs out of its
// limits on the 10th, on the 27th (with half an hour without values inside) and across the
// night of the clock change; freezer CS_02 (-25 to -15) defrosts every morning; room RM_03
// (15 to 25) falls below its limit on the 30th. The recording stopped on the 26th at 09:20 and
// restarted at 14:10, writing one empty row per node at the stop.
QList<Sample> coldStoreMonth()
{
    const qint64 first = at(QStringLiteral("2026-03-01 00:00:00"));
    const qint64 end = at(QStringLiteral("2026-04-01 00:00:00"));
    const qint64 stop = at(QStringLiteral("2026-03-26 09:20:00"));
    const qint64 restart = at(QStringLiteral("2026-03-26 14:10:00"));
    auto inside = [](qint64 t, const char* from, const char* to) {
        return t >= at(QLatin1String(from)) && t < at(QLatin1String(to));
    };
    auto round2 = [](double v) { return std::round(v * 100) / 100; };
    QList<Sample> samples;
    for (qint64 t = first; t < end; t += 300) {
        if (t > stop && t < restart) {
            if (t == stop + 300) {
                for (const char* serial : {"CS_01", "CS_02", "RM_03"})
                    samples.append({QLatin1String(serial), QVariant(), QVariant(), t});
            }
            continue;
        }
        const double day = 2 * M_PI * double(t - first) / 86400.0;
        double cold = 4.5 + 1.2 * std::sin(day) + 0.3 * std::sin(day * 37);
        if (inside(t, "2026-03-10 14:00:00", "2026-03-10 14:40:00"))
            cold = 8.7;
        if (inside(t, "2026-03-27 10:00:00", "2026-03-27 11:20:00"))
            cold = 9.0 + 0.1 * double((t - at(QStringLiteral("2026-03-27 10:00:00"))) / 300);
        if (inside(t, "2026-03-28 23:30:00", "2026-03-29 01:20:00"))
            cold = 8.8;
        QVariant coldValue = round2(cold);
        if (inside(t, "2026-03-27 10:30:00", "2026-03-27 11:00:00"))
            coldValue = QVariant();
        samples.append({QStringLiteral("CS_01"), coldValue, round2(85 + 5 * std::sin(day * 3)), t});

        const QTime clock = QDateTime::fromSecsSinceEpoch(t).time();
        double freezer = -19 + 1.5 * std::sin(day * 2);
        if (clock >= QTime(6, 0) && clock < QTime(6, 20))
            freezer = -12.5 - 0.05 * clock.minute();
        samples.append(
            {QStringLiteral("CS_02"), round2(freezer), round2(70 + 4 * std::sin(day)), t + 1});

        double room = 21 + 2 * std::sin(day - 1);
        if (inside(t, "2026-03-30 03:00:00", "2026-03-30 04:00:00"))
            room = 13.5;
        samples.append(
            {QStringLiteral("RM_03"), round2(room), round2(45 + 10 * std::sin(day + 2)), t + 2});
    }
    return samples;
}

PageCase coldStore(const QString& file, ReportKind kind, const QString& start,
                   HaccpSpan span = HaccpSpan::Day, bool summary = true)
{
    static const QList<Sample> month = coldStoreMonth();
    PageCase c;
    c.tag = file;
    c.file = file;
    c.samples = month;
    if (kind != ReportKind::Daily && start <= QLatin1String("2026-03-26"))
        c.drawnAndQuiet = QStringList{"2026-03-26 04:00:00", "2026-03-26 08:00:00",
                                      "2026-03-26 10:00:00", "2026-03-26 13:30:00"};
    c.nodes =
        QStringList{QStringLiteral("CS_01"), QStringLiteral("CS_02"), QStringLiteral("RM_03")};
    c.limits = {{2, 8, 0, 0}, {-25, -15, 0, 0}, {15, 25, 30, 70}};
    c.interval = 300000;
    c.recordStart = QStringLiteral("2026-03-01 00:00:00");
    c.recordStop = QStringLiteral("2026-04-01 00:00:30");
    c.kind = kind;
    c.start = start;
    c.span = span;
    c.keys = QStringList{QStringLiteral("CS_01_channel1"), QStringLiteral("CS_02_channel1"),
                         QStringLiteral("RM_03_channel1"), QStringLiteral("RM_03_channel2")};
    c.subject = QStringLiteral("Cold store, March 2026");
    c.author = QStringLiteral("Quality assurance");
    c.wal = true;
    c.summary = summary;
    return c;
}

// A daily report of node "A" (and the nodes named) from `start`, recorded around that day.
PageCase daily(const QString& file, const QList<Sample>& samples, const QString& start,
               const QStringList& keys = {QStringLiteral("A_channel1")},
               const QStringList& nodes = {QStringLiteral("A")})
{
    PageCase c;
    c.tag = file;
    c.file = file;
    c.samples = samples;
    c.nodes = nodes;
    const QDate day = QDateTime::fromString(start, kFormat).date();
    c.recordStart = day.addDays(-1).toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
    c.recordStop = day.addDays(2).toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
    c.start = start;
    c.keys = keys;
    return c;
}

// The samples of the report window's test: three nodes over 2026-01-09 at a 1-minute interval,
// the second node's first channel without values for an hour, the third without samples.
QList<Sample> threeNodes()
{
    QList<Sample> samples;
    const qint64 day = at(QStringLiteral("2026-01-09 00:00:00"));
    for (int i = 0; i < 24 * 60; ++i) {
        const qint64 t = day + i * 60;
        samples.append(
            {QStringLiteral("1234"), 4.0 + 3.0 * qSin(i / 90.0), 60.0 + 10.0 * qCos(i / 150.0), t});
        const QVariant v = (i >= 600 && i < 660) ? QVariant() : QVariant(12.0 + i / 400.0);
        samples.append({QStringLiteral("5678"), v, 35.0 + 5.0 * qSin(i / 60.0), t + 7});
    }
    return samples;
}

PageCase threeNodeCase(const QString& file, const QStringList& keys)
{
    PageCase c;
    c.tag = file;
    c.file = file;
    c.samples = threeNodes();
    c.nodes = QStringList{QStringLiteral("1234"), QStringLiteral("5678"), QStringLiteral("9999")};
    c.recordStart = QStringLiteral("2026-01-08 12:00:13");
    c.recordStop = QStringLiteral("2026-01-10 08:15:42");
    c.keys = keys;
    c.subject = QStringLiteral("<b>Cold</b> & \"dry\" 'store'<script>x=1</script>");
    c.author = QStringLiteral("Ann O'Hara");
    return c;
}

// One node with a "_" in its number at a 1-minute interval on 2026-01-09, stopped at 09:20 and
// restarted at 14:10; each stop writes an empty row one interval after the last sample.
QList<Sample> stopAndRestart()
{
    QList<Sample> samples;
    auto add = [&](qint64 from, qint64 to) {
        for (qint64 t = from; t <= to; t += 60) {
            const QTime time = QDateTime::fromSecsSinceEpoch(t).time();
            samples.append({QStringLiteral("CS_01"), 10.0 + time.hour() + time.minute() % 2,
                            50.0 + time.hour(), t});
        }
        samples.append({QStringLiteral("CS_01"), QVariant(), QVariant(), to + 60});
    };
    add(at(QStringLiteral("2026-01-09 00:00:00")), at(QStringLiteral("2026-01-09 09:20:00")));
    add(at(QStringLiteral("2026-01-09 14:10:00")), at(QStringLiteral("2026-01-10 00:05:00")));
    return samples;
}

// Node "A" every 10 minutes on 2026-01-10, values about 20 (channel 1) and 50 (channel 2); one
// corrupted row of 1e308 at 10:00, a gateway's glitch of -3.4e38 at 15:00, an infinite value
// (stored by another program) at 12:00 on channel 2.
QList<Sample> extremeValues()
{
    QList<Sample> samples;
    const qint64 first = at(QStringLiteral("2026-01-10 00:00:00"));
    for (qint64 t = first; t < first + 86400; t += 600) {
        const QTime clock = QDateTime::fromSecsSinceEpoch(t).time();
        QVariant v1 = 20.0 + clock.hour() / 4.0;
        QVariant v2 = 50.0 - clock.hour() / 2.0;
        if (clock == QTime(10, 0))
            v1 = 1e308;
        if (clock == QTime(15, 0))
            v1 = -3.4e38;
        if (clock == QTime(12, 0))
            v2 = std::numeric_limits<double>::infinity();
        samples.append({QStringLiteral("A"), v1, v2, t});
    }
    return samples;
}

// The recorder's events around 2026-03-29 (the spring change), matching the cold store's
// samples: the night's excursion of CS_01, acknowledged with a comment to escape; the freezer's
// defrost, not acknowledged; RM_03 silent across the change (a long word in its comment); a
// humidity alarm still active; one ended by the recorder's exit. Left out: another day's, a
// channel not in the report, a node not in it.
QVector<AlarmEventRecord> coldStoreEvents()
{
    // id, node, channel, kind, limit, start, end, how it ended
    auto event = [](qint64 id, const char* serial, int channel, AlarmKind kind,
                    std::optional<double> limit, qint64 start, std::optional<qint64> end,
                    AlarmEnd ended = AlarmEnd::Cleared) {
        AlarmEventRecord r =
            alarmEvent(id, QLatin1String(serial), channel, kind, start, end, ended);
        r.limit = limit;
        return r;
    };
    QVector<AlarmEventRecord> events;
    events << event(1, "CS_01", 1, AlarmKind::High, 8.0, at("2026-03-28 23:30:00"),
                    at("2026-03-29 01:20:00"));
    events.last().extremeValue = 8.8;
    events.last().extremeTime = at("2026-03-28 23:30:00");
    events.last().acknowledgedAt = at("2026-03-29 00:05:00");
    events.last().acknowledgedBy = QStringLiteral("Ann O'Hara");
    events.last().comment =
        QStringLiteral("Door left open <b>overnight</b> & seal checked.\nNight staff told.");
    events.last().action = {QStringLiteral("door left open"), QStringLiteral("moved <stock>"),
                            QStringLiteral("quarantined"), QStringLiteral("12 boxes"),
                            QStringLiteral("Ann & Bo")};
    events << event(2, "CS_02", 1, AlarmKind::High, -15.0, at("2026-03-29 06:00:00"),
                    at("2026-03-29 06:20:00"));
    events.last().extremeValue = -12.5;
    events.last().extremeTime = at("2026-03-29 06:00:00");
    events << event(3, "RM_03", 0, AlarmKind::NoData, std::nullopt, utc("2026-03-29 00:50:00"),
                    utc("2026-03-29 01:10:00"));
    events.last().acknowledgedAt = utc("2026-03-29 01:15:00");
    events.last().acknowledgedBy = QStringLiteral("Night shift");
    // One word longer than its column: it wraps, the sheet keeps its width.
    events.last().comment =
        QStringLiteral("Gateway restarted, see GATEWAY-LOG-2026-03-29-0150-RM03-AUTOMATIC-ENTRY");
    events << event(4, "RM_03", 2, AlarmKind::Low, 30.0, at("2026-03-29 23:50:00"), std::nullopt);
    events.last().extremeValue = 29.5;
    events.last().extremeTime = at("2026-03-29 23:55:00");
    events << event(5, "CS_01", 1, AlarmKind::High, 8.0, at("2026-03-29 21:00:00"),
                    at("2026-03-29 21:30:00"), AlarmEnd::RecorderStopped);
    events << event(6, "CS_01", 1, AlarmKind::High, 8.0, at("2026-03-27 10:00:00"),
                    at("2026-03-27 11:20:00"));
    events << event(7, "CS_01", 2, AlarmKind::Battery, 3.1, at("2026-03-29 12:00:00"), {});
    events << event(8, "XX_09", 1, AlarmKind::High, 5.0, at("2026-03-29 12:00:00"), {});
    return events;
}

// Three entries of fixed content and time: their head's hash is always the same.
QVector<AuditEntry> auditEntries()
{
    QVector<AuditEntry> entries;
    const QStringList actions = {QStringLiteral("recording started"),
                                 QStringLiteral("setting changed"),
                                 QStringLiteral("recording stopped")};
    for (int i = 0; i < actions.size(); ++i) {
        AuditEntry e;
        e.timeMs = (at(QStringLiteral("2026-03-29 06:00:00")) + i * 3600) * 1000;
        e.user = QStringLiteral("recorder");
        e.action = actions.at(i);
        e.object = QStringLiteral("Cold store");
        entries.append(e);
    }
    return entries;
}

QList<PageCase> pageCases()
{
    const QString day = QStringLiteral("2026-01-10 ");
    auto s = [&](const QString& time, double v) { return one("A", day + time, v); };
    auto gap = [&](const QString& time) { return one("A", day + time, QVariant()); };
    auto u = [](const QString& time, double v) {
        return Sample{QStringLiteral("A"), v, QVariant(), utc(time)};
    };
    const QString midnight = day + QStringLiteral("00:00:00");
    QList<PageCase> cases;

    cases << daily("daily-start-at-half-past",
                   {s("00:30:00", 1), s("00:59:00", 2), s("01:29:59", 3), s("01:45:00", 10),
                    s("02:10:00", 20), s("02:20:00", 30), s("02:30:00", 40)},
                   day + QStringLiteral("00:30:00"));

    QList<Sample> tenMinutes;
    for (int i = 0; i < 18; ++i)
        tenMinutes.append(s(QTime(0, 0).addSecs(i * 600).toString(QStringLiteral("hh:mm:ss")), i));
    cases << daily("daily-ten-minute-interval", tenMinutes, midnight);
    cases.last().interval = 600000;

    cases << daily("daily-stop-and-restart-ten-minutes",
                   {s("08:00:00", 1), s("08:10:00", 2), s("08:20:00", 3), s("08:30:00", 4),
                    s("08:40:00", 5), s("08:50:00", 6), s("09:00:00", 10), s("09:10:00", 11),
                    s("09:20:00", 12), gap("09:30:00"), s("14:10:00", 40), s("14:20:00", 41),
                    s("14:30:00", 42), s("14:40:00", 43), s("14:50:00", 44), s("15:00:00", 50),
                    s("15:10:00", 51), s("15:20:00", 52), gap("15:30:00")},
                   midnight);
    cases.last().interval = 600000;
    cases.last().drawnAndQuiet =
        QStringList{day + "08:00:00", day + "09:10:00", day + "09:35:00", day + "14:00:00"};

    cases << daily("daily-single-sample-periods",
                   {s("00:10:00", 5), s("01:05:00", 7), s("03:30:00", 9), s("03:40:00", 11),
                    s("04:10:00", 13)},
                   midnight);
    cases << daily("daily-last-period-cut", {s("00:00:00", 1), s("00:20:00", 2), s("00:40:00", 3)},
                   midnight);
    cases << daily("daily-lone-last-sample", {s("00:10:00", 5), s("01:05:00", 7), s("02:30:00", 9)},
                   midnight);
    cases << daily("daily-negative-values",
                   {s("00:05:00", -20.5), s("00:30:00", -18.25), s("01:00:00", -19)}, midnight);

    cases << daily(
        "daily-berlin-autumn-day",
        {u("2026-10-24 23:00:00", 10), u("2026-10-24 23:20:00", 11), u("2026-10-24 23:40:00", 12),
         u("2026-10-25 00:00:00", 20), u("2026-10-25 00:20:00", 21), u("2026-10-25 00:40:00", 22),
         u("2026-10-25 01:00:00", 30), u("2026-10-25 01:20:00", 31), u("2026-10-25 01:40:00", 32),
         u("2026-10-25 02:00:00", 40), u("2026-10-25 02:20:00", 41), u("2026-10-25 02:40:00", 42)},
        QStringLiteral("2026-10-25 00:00:00"));
    {
        // Every 20 minutes of the 25 local hours: the hourly table gets a 25th row.
        QList<Sample> samples;
        const qint64 from = utc(QStringLiteral("2026-10-24 22:00:00"));
        for (qint64 t = from; t < from + 25 * 3600; t += 1200)
            samples.append({QStringLiteral("A"), double((t - from) / 1200), QVariant(), t});
        cases << daily("daily-berlin-autumn-whole-day", samples,
                       QStringLiteral("2026-10-25 00:00:00"));
    }
    cases << daily("daily-berlin-spring-day",
                   {u("2026-03-29 00:00:00", 10), u("2026-03-29 00:20:00", 11),
                    u("2026-03-29 00:40:00", 12), u("2026-03-29 01:00:00", 30),
                    u("2026-03-29 01:20:00", 31), u("2026-03-29 01:40:00", 32),
                    u("2026-03-29 02:00:00", 40), u("2026-03-29 02:20:00", 41)},
                   QStringLiteral("2026-03-29 00:00:00"));

    // Every 97 s from noon the day before: the time texts cross a midnight and the change.
    for (const QString& change : {QStringLiteral("2026-03-29"), QStringLiteral("2026-10-25")}) {
        const QString startText =
            QDate::fromString(change, Qt::ISODate).addDays(-1).toString(Qt::ISODate) +
            QStringLiteral(" 12:00:00");
        QList<Sample> samples;
        for (qint64 t = at(startText); t < at(startText) + 86400; t += 97)
            samples.append({QStringLiteral("A"), double(t % 1000) / 10, double(t % 77), t});
        cases << daily(QStringLiteral("daily-noon-to-noon-") + change, samples, startText,
                       {QStringLiteral("A_channel1"), QStringLiteral("A_channel2")});
    }

    cases << daily("daily-shared-time-rows",
                   {one("N1", day + "00:00:00", 20.0, 40.0),
                    one("N1", day + "00:30:00", 22.0, 42.0),
                    one("N1", day + "01:00:00", 24.0, 44.0), one("N2", day + "00:15:00", 5.0, 50.0),
                    one("N2", day + "01:15:00", 7.0, 70.0)},
                   midnight, {"N1_channel1", "N1_channel2", "N2_channel1"}, {"N1", "N2"});
    cases << daily("daily-null-and-marker-values",
                   {one("A", day + "00:10:00", QVariant(), 1.0),
                    one("A", day + "00:20:00", 4.0, 1.0), one("A", day + "00:30:00", NoValue, 1.0),
                    one("A", day + "01:10:00", 6.0, 1.0)},
                   midnight, {"A_channel1", "A_channel2"});
    cases << daily(
        "daily-empty-channels",
        {one("A", day + "00:10:00", QVariant(), 3.0), one("A", day + "01:10:00", QVariant(), 4.0)},
        midnight, {"A_channel1", "B_channel1", "A_channel2"}, {"A", "B"});

    QList<Sample> around;
    for (int i = 0; i < 25; ++i)
        around.append(one("A", midnight, double(i), double(i)));
    for (int i = 0; i < 25; ++i)
        around[i].pointDate += i * 60;
    around << Sample{"A", 1.0, 1.0, at(midnight) - 1}
           << one("A", QStringLiteral("2026-01-11 00:00:00"), 1.0, 1.0)
           << one("B", day + "00:05:00", 1.0, 1.0);
    cases << daily("daily-rows-outside-period-and-other-node", around, midnight,
                   {"A_channel1", "A_channel2"}, {"A", "B"});

    cases << daily(
        "daily-serial-numbers",
        {one("O'Neil", day + "00:10:00", 1.0, 2.0), one("O'Neil", day + "00:40:00", 3.0, 2.0),
         one("Other", day + "00:20:00", 9.0, 9.0), one("CS_01_b", day + "00:30:00", 4.0, 6.5)},
        midnight, {"O'Neil_channel1", "x' or '1'='1_channel1", "CS_01_b_channel2"},
        {"O'Neil", "x' or '1'='1", "CS_01_b", "Other"});

    cases << daily("daily-wal-file-while-recording", {one("A", day + "00:10:00", 1.0, 2.0)},
                   midnight);
    cases.last().wal = true;
    cases.last().writerOpen = true;

    cases << daily("daily-indexed-file",
                   {one("A", day + "00:10:00", 1.0, 2.0), one("B", day + "00:15:00", 7.0, 8.0),
                    one("A", day + "00:20:00", 3.0, 4.0),
                    one("A", QStringLiteral("2026-01-11 00:20:00"), 5.0, 6.0)},
                   midnight, {"A_channel1", "A_channel2"}, {"A", "B"});
    cases.last().summary = true;

    QList<Sample> seconds;
    for (qint64 t = at(day + "00:50:00"); t < at(day + "01:10:00"); ++t)
        seconds.append({QStringLiteral("A"), double(t % 600) / 10, QVariant(), t});
    cases << daily("daily-one-second-interval", seconds, midnight);
    cases.last().interval = 1000;

    cases << threeNodeCase("daily-three-nodes",
                           {"1234_channel1", "1234_channel2", "5678_channel1"});
    cases.last().start = QStringLiteral("2026-01-09 00:00:00");
    cases << threeNodeCase("daily-default-period", {"5678_channel1", "5678_channel2"});
    cases << threeNodeCase("daily-not-enough-data", {"9999_channel2"});
    cases.last().start = QStringLiteral("2026-01-09 00:00:00");
    cases << threeNodeCase("daily-database-gone", {"1234_channel1"});
    cases.last().removeDatabase = true;

    // A recording shorter than a day keeps its range, the end at the stop's last second.
    QList<Sample> morning;
    for (qint64 t = at(day + "00:00:00"); t <= at(day + "09:00:00"); t += 60)
        morning.append({QStringLiteral("A"), double(t % 3600) / 100, 50.0, t});
    cases << daily("daily-short-recording", morning, QString(), {"A_channel2", "A_channel1"});
    cases.last().recordStart = day + QStringLiteral("02:10:20");
    cases.last().recordStop = day + QStringLiteral("08:15:42");

    PageCase restart;
    restart.tag = restart.file = QStringLiteral("daily-stop-and-restart-one-minute");
    restart.samples = stopAndRestart();
    restart.nodes = QStringList{QStringLiteral("CS_01")};
    restart.recordStart = QStringLiteral("2026-01-09 00:00:00");
    restart.recordStop = QStringLiteral("2026-01-10 00:05:00");
    restart.keys = QStringList{QStringLiteral("CS_01_channel1"), QStringLiteral("CS_01_channel2")};
    restart.start = QStringLiteral("2026-01-09 00:00:00");
    restart.drawnAndQuiet = QStringList{"2026-01-09 06:00:00", "2026-01-09 09:00:00",
                                        "2026-01-09 09:25:00", "2026-01-09 14:05:00"};
    cases << restart;

    cases << daily("daily-extreme-values", extremeValues(), midnight,
                   {QStringLiteral("A_channel1"), QStringLiteral("A_channel2")});
    cases << daily("haccp-day-extreme-values", extremeValues(), midnight,
                   {QStringLiteral("A_channel1"), QStringLiteral("A_channel2")});
    cases.last().kind = ReportKind::Haccp;
    cases.last().start = QStringLiteral("2026-01-10");
    cases.last().limits = {{15, 30, 40, 60}};

    cases << coldStore("daily-cold-store-spring-day", ReportKind::Daily,
                       QStringLiteral("2026-03-29 00:00:00"));
    // The head printed at the end is the file's (the other cases keep no audit trail: "none").
    cases.last().audit = auditEntries();
    cases << coldStore("weekly-cold-store", ReportKind::Weekly, QStringLiteral("2026-03-25"));
    cases << coldStore("monthly-cold-store", ReportKind::Monthly, QStringLiteral("2026-03-01"));
    // Read from the rows, the month's figures are those of the summary.
    cases << coldStore("monthly-cold-store-without-summary", ReportKind::Monthly,
                       QStringLiteral("2026-03-01"), HaccpSpan::Day, false);
    cases.last().file = QStringLiteral("monthly-cold-store");
    cases << coldStore("haccp-day-cold-store", ReportKind::Haccp, QStringLiteral("2026-03-29"));
    cases << coldStore("haccp-day-cold-store-alarm-events", ReportKind::Haccp,
                       QStringLiteral("2026-03-29"));
    cases.last().alarmLog = true;
    cases.last().events = coldStoreEvents();
    // Event 1 signed, event 3 (acknowledged before corrective actions) not.
    cases.last().signedEvents = {1};
    // After the lists and the signature block.
    cases.last().audit = auditEntries();
    cases << coldStore("haccp-week-cold-store", ReportKind::Haccp, QStringLiteral("2026-03-25"),
                       HaccpSpan::Week);
    // Below everything else: a shelve inside the week, an out-of-service time still running at
    // its end, and one of a node the report does not show (not listed).
    const auto shelvesOf = [](PageCase* c) {
        AlarmSuppression shelve;
        shelve.id = 1;
        shelve.serial = QStringLiteral("CS_01");
        shelve.channel = 1;
        shelve.from = at(QStringLiteral("2026-03-26 06:00:00"));
        shelve.until = at(QStringLiteral("2026-03-26 08:00:00"));
        shelve.reason = QStringLiteral("defrost <cycle>");
        shelve.user = QStringLiteral("sam");
        AlarmSuppression service = shelve;
        service.id = 2;
        service.kind = AlarmSuppression::Kind::OutOfService;
        service.serial = QStringLiteral("RM_03");
        service.channel = 0;
        service.from = at(QStringLiteral("2026-03-31 22:00:00"));
        service.until = at(QStringLiteral("2026-04-02 06:00:00"));
        service.reason = QStringLiteral("probe replaced");
        AlarmSuppression other = shelve;
        other.id = 3;
        other.serial = QStringLiteral("XX_09");
        c->suppressions = {shelve, service, other};
    };
    cases << coldStore("weekly-cold-store-shelves", ReportKind::Weekly,
                       QStringLiteral("2026-03-25"));
    shelvesOf(&cases.last());
    cases << coldStore("haccp-week-cold-store-shelves", ReportKind::Haccp,
                       QStringLiteral("2026-03-25"), HaccpSpan::Week);
    shelvesOf(&cases.last());
    cases << coldStore("haccp-month-cold-store", ReportKind::Haccp, QStringLiteral("2026-03-09"),
                       HaccpSpan::Month);
    // Below the other tables: the alarm test inside the week, one target answering, one not
    // (marked); the test of the week before is not listed, and no figure counts either as an
    // alarm.
    cases << coldStore("weekly-cold-store-alarm-tests", ReportKind::Weekly,
                       QStringLiteral("2026-03-25"));
    for (const auto& test : {qMakePair(QStringLiteral("2026-03-27 10:15:00"), qint64(1)),
                             qMakePair(QStringLiteral("2026-03-20 10:15:00"), qint64(2))}) {
        AlarmTestRecord mail;
        mail.testId = test.second;
        mail.time = at(test.first);
        mail.user = QStringLiteral("olga (Olga Berg)");
        mail.nodes = QStringLiteral("CS_01, RM_03");
        mail.target = QStringLiteral("email");
        mail.answer = AlarmTestRecord::acceptedAnswer();
        mail.text = QStringLiteral("250 2.0.0 Ok: queued as <4F2A>");
        AlarmTestRecord mqtt = mail;
        mqtt.target = QStringLiteral("mqtt");
        mqtt.answer = AlarmTestRecord::noAnswer();
        mqtt.text = QStringLiteral("no answer in 30 s");
        cases.last().alarmTests << mail << mqtt;
    }
    return cases;
}

QString number(double v)
{
    return v == NoValue ? QStringLiteral("-") : QString::number(v, 'g', 17);
}

// The worker's tables as text, every value at full precision.
QString tablesText(const ReportTables& tables)
{
    QString text = QStringLiteral("channelEmpty");
    for (bool empty : tables.channelEmpty)
        text += empty ? QStringLiteral(" 1") : QStringLiteral(" 0");
    text += QStringLiteral("\nsampleRows ") + QString::number(tables.sampleRows.size()) +
            QLatin1Char('\n');
    for (auto it = tables.sampleRows.constBegin(); it != tables.sampleRows.constEnd(); ++it) {
        text += QString::number(it.key()) + QLatin1Char(' ') + it->timeText;
        for (double v : it->values)
            text += QLatin1Char(' ') + number(v);
        text += QLatin1Char('\n');
    }
    text += QStringLiteral("periodRows ") + QString::number(tables.periodRows.size()) +
            QLatin1Char('\n');
    for (auto it = tables.periodRows.constBegin(); it != tables.periodRows.constEnd(); ++it) {
        text += QString::number(it.key()) + QLatin1Char(' ') + it->label;
        for (int c = 0; c < ReportColumns; ++c)
            text += QLatin1Char(' ') + number(it->avg[c]) + QLatin1Char('/') + number(it->min[c]) +
                    QLatin1Char('/') + number(it->max[c]);
        text += QLatin1Char('\n');
    }
    return text;
}

// Strongly coloured pixels on the chart between two times: the graphs' lines (grid lines are
// grey; the dashed limit lines, in their graph's colour, are left out). -1 without a chart.
int linePixels(QWebFrame* frame, const QString& from, const QString& to)
{
    return frame
        ->evaluateJavaScript(
            QStringLiteral(
                "(function (from, to) {"
                "  if (!reportChart) return -1;"
                "  var c = reportChart, x = c.scales['x-axis-0'], y = c.scales['y-axis-0'];"
                "  var x0 = Math.ceil(x.getPixelForValue(new Date(from)));"
                "  var x1 = Math.floor(x.getPixelForValue(new Date(to)));"
                "  var top = Math.ceil(c.chartArea.top);"
                "  var height = Math.floor(c.chartArea.bottom) - top;"
                "  if (x1 <= x0 || height <= 0) return -1;"
                "  var limits = [];"
                "  c.data.datasets.forEach(function (d) {"
                "    (d.limits || []).forEach(function (l) { limits.push(y.getPixelForValue(l)); "
                "});"
                "  });"
                "  var data = c.ctx.getImageData(x0, top, x1 - x0, height).data;"
                "  var n = 0;"
                "  for (var i = 0; i < data.length; i += 4) {"
                "    var row = top + Math.floor(i / 4 / (x1 - x0));"
                "    if (limits.some(function (l) { return Math.abs(l - row) < 4; })) continue;"
                "    var hi = Math.max(data[i], data[i + 1], data[i + 2]);"
                "    var lo = Math.min(data[i], data[i + 1], data[i + 2]);"
                "    if (data[i + 3] > 128 && hi - lo > 100) ++n;"
                "  }"
                "  return n;"
                "})(%1, %2);")
                .arg(QDateTime::fromString(from, kFormat).toMSecsSinceEpoch())
                .arg(QDateTime::fromString(to, kFormat).toMSecsSinceEpoch()))
        .toInt();
}

// The page's HTML without the inline scripts (the template's, not the report's) and with the
// printing time and the time the audit trail's head was read masked; false when such a time is
// not a time, or not one of the last few minutes.
bool pageText(QString html, QString* text)
{
    html.replace(QRegularExpression(QStringLiteral("<script>.*?</script>"),
                                    QRegularExpression::DotMatchesEverythingOption),
                 QStringLiteral("<script>(script)</script>"));
    const QDateTime now = QDateTime::currentDateTime();
    const std::pair<QString, QString> masks[] = {
        {QStringLiteral("printingTime"), QStringLiteral("(printing time)")},
        {QStringLiteral("AuditHeadTime"), QStringLiteral("(read time)")}};
    for (const auto& [id, mask] : masks) {
        const QRegularExpression span(QStringLiteral("(<span id=\"") + id +
                                      QStringLiteral("\">)([^<]*)(</span>)"));
        const QRegularExpressionMatch match = span.match(html);
        if (!match.hasMatch())
            return false;
        const QString when = match.captured(2);
        const QDateTime time = QDateTime::fromString(when, kFormat);
        if (!when.isEmpty() && (!time.isValid() || qAbs(time.secsTo(now)) > 300))
            return false;
        html.replace(match.capturedStart(2), match.capturedLength(2),
                     when.isEmpty() ? QString() : mask);
    }
    *text = html;
    return true;
}

} // namespace

Q_DECLARE_METATYPE(PageCase)

class TestReportPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pages_data();
    void pages();
    void pagesWithoutWindow_data();
    void pagesWithoutWindow();
    void axisLabels_data();
    void axisLabels();

private:
    void writeFiles(const PageCase& page, const QTemporaryDir& dir);
    // Writes the file instead when asked to and `write` is set.
    void compareWithGolden(const QString& name, const QString& text, bool write = true);
    bool writeGolden = false;
};

void TestReportPages::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    writeGolden = qEnvironmentVariableIsSet("QUILLMAR_WRITE_GOLDEN");
    // The golden files hold Berlin's local times.
    QCOMPARE(QDateTime(QDate(2026, 1, 10), QTime(12, 0)).offsetFromUtc(), 3600);
    QCOMPARE(QDateTime(QDate(2026, 7, 10), QTime(12, 0)).offsetFromUtc(), 7200);
}

void TestReportPages::compareWithGolden(const QString& name, const QString& text, bool write)
{
    const QString path = QStringLiteral(GOLDEN_DIR "/") + name;
    QFile file(path);
    if (writeGolden && write) {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        return;
    }
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QString golden = QString::fromUtf8(file.readAll());
    if (golden == text)
        return;
    // Where the texts part, to see what moved.
    int at = 0;
    while (at < golden.size() && at < text.size() && golden.at(at) == text.at(at))
        ++at;
    const int line = int(golden.left(at).count(QLatin1Char('\n'))) + 1;
    const int from = qMax(0, at - 60);
    QFAIL(qPrintable(QStringLiteral("%1 differs at line %2:\n  golden: %3\n  made:   %4")
                         .arg(name)
                         .arg(line)
                         .arg(golden.mid(from, 160), text.mid(from, 160))));
}

void TestReportPages::writeFiles(const PageCase& page, const QTemporaryDir& dir)
{
    QVERIFY(dir.isValid());
    writeProject(dir.path(), QStringLiteral("Cold store.tpc"),
                 nestedDeviceList(page.nodes, page.limits), page.interval, page.recordStart,
                 page.recordStop);
    QVERIFY(writeDatabase(dir.filePath(QStringLiteral("Cold store.dat")), page.samples, page.wal,
                          page.summary));
    if (page.alarmLog)
        QVERIFY(writeAlarmEvents(dir.filePath(QStringLiteral("Cold store.dat")), page.events));
    if (!page.audit.isEmpty())
        QVERIFY(writeAuditEntries(dir.filePath(QStringLiteral("Cold store.dat")), page.audit));
    if (!page.suppressions.isEmpty()) {
        SqliteConnection db;
        QVERIFY(db.open(dir.filePath(QStringLiteral("Cold store.dat")), SQLITE_OPEN_READWRITE));
        QString error;
        for (const AlarmSuppression& row : page.suppressions)
            QVERIFY2(AlarmSuppressionTable::insert(db.get(), row, &error), qPrintable(error));
    }
    if (!page.alarmTests.isEmpty()) {
        SqliteConnection db;
        QVERIFY(db.open(dir.filePath(QStringLiteral("Cold store.dat")), SQLITE_OPEN_READWRITE));
        QString error;
        for (const AlarmTestRecord& row : page.alarmTests)
            QVERIFY2(AlarmTestTable::insert(db.get(), {row}, &error), qPrintable(error));
    }
    for (const AlarmEventRecord& event : page.events) {
        if (page.signedEvents.contains(event.id))
            QVERIFY(writeAlarmSignature(dir.filePath(QStringLiteral("Cold store.dat")), event,
                                        QStringLiteral("olga"), QStringLiteral("Olga Berg")));
    }
}

void TestReportPages::pages_data()
{
    QTest::addColumn<PageCase>("page");
    for (const PageCase& c : pageCases())
        QTest::newRow(qPrintable(c.tag)) << c;
}

// Catches any change in the report pages and the daily tables of the fixtures: periods,
// labels, statistics, chart points and graphs, header texts, table rows, HACCP lists, the
// messages of failed reports.
void TestReportPages::pages()
{
    QFETCH(PageCase, page);
    QTemporaryDir dir;
    writeFiles(page, dir);
    if (QTest::currentTestFailed())
        return;
    const QString project = dir.filePath(QStringLiteral("Cold store.tpc"));
    const QString database = dir.filePath(QStringLiteral("Cold store.dat"));

    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    QVERIFY2(
        ReportStartup::check({QStringLiteral("Tallyforge"), project}, &path, &devices, &errorText),
        qPrintable(errorText));
    Report report(path, devices, page.kind);
    QStringList messages;
    report.desktop().message = [&messages](const QString& title, const QString& text) {
        messages.append(title + QStringLiteral(": ") + text);
    };
    // As the user makes it: texts, channels in ticking order, the period's start.
    report.findChild<QLineEdit*>(QStringLiteral("lineEdit_subject"))->setText(page.subject);
    report.findChild<QLineEdit*>(QStringLiteral("lineEdit_author"))->setText(page.author);
    auto* list = report.findChild<QListWidget*>(QStringLiteral("listWidget"));
    for (const QString& key : qAsConst(page.keys)) {
        const QList<QListWidgetItem*> items =
            list->findItems(QStringLiteral("*"), Qt::MatchWildcard);
        const auto item = std::find_if(items.cbegin(), items.cend(), [&key](QListWidgetItem* i) {
            return i->toolTip().startsWith(key + QLatin1Char('|'));
        });
        QVERIFY2(item != items.cend(), qPrintable(key));
        emit list->itemClicked(*item);
    }
    if (auto* span = report.findChild<QComboBox*>(QStringLiteral("comboBox_period")))
        span->setCurrentIndex(int(page.span));
    auto* startEdit = report.findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_start"));
    if (!page.start.isEmpty()) {
        if (page.kind == ReportKind::Daily)
            startEdit->setDateTime(QDateTime::fromString(page.start, kFormat));
        else
            startEdit->setDateTime(
                QDateTime(QDate::fromString(page.start, Qt::ISODate), QTime(0, 0)));
    }
    const QString startText = startEdit->dateTime().toString(kFormat);
    const QString endText = report.findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"))
                                ->dateTime()
                                .toString(kFormat);
    report.show();

    QSqlDatabase writer;
    const QString writerName = QStringLiteral("recorder");
    if (page.writerOpen) {
        writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), writerName);
        writer.setDatabaseName(database);
        QVERIFY(writer.open());
        QVERIFY(QSqlQuery(writer).exec(
            QStringLiteral("insert into quorbinal (serialno, channel1, channel2, pointDate) "
                           "values ('A', 3.0, 4.0, %1)")
                .arg(at(startText) + 3600 + 600)));
    }
    if (page.removeDatabase)
        QVERIFY(QFile::remove(database));

    report.findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(report.isReportMade() || !messages.isEmpty(), 120000);
    // A made report's page is filled once its template has loaded.
    QTRY_VERIFY(!report.isReportMade() ||
                !report.reportFrame()
                     ->findFirstElement(QStringLiteral("span#printingTime"))
                     .toPlainText()
                     .isEmpty());

    QString text = QStringLiteral("period ") + startText + QStringLiteral(" ~ ") + endText +
                   QStringLiteral("\nmade ") +
                   (report.isReportMade() ? QStringLiteral("yes") : QStringLiteral("no")) +
                   QStringLiteral("\nmessages ") + messages.join(QStringLiteral(" | ")) +
                   QStringLiteral("\n\n");
    QString html;
    QVERIFY(pageText(report.reportFrame()->toHtml(), &html));
    compareWithGolden(page.file + QStringLiteral(".page.html"), text + html);
    // Nothing sticks out of the sheet: a wider page is squeezed onto the PDF's page.
    const QVariant overflow = report.reportFrame()->evaluateJavaScript(
        QStringLiteral("var sheet = document.getElementById('ReportContent');"
                       "sheet.scrollWidth - sheet.clientWidth;"));
    QCOMPARE(overflow.toInt(), 0);
    if (!page.drawnAndQuiet.isEmpty()) {
        const QStringList& t = page.drawnAndQuiet;
        QVERIFY(linePixels(report.reportFrame(), t.at(0), t.at(1)) > 0);
        QCOMPARE(linePixels(report.reportFrame(), t.at(2), t.at(3)), 0);
    }

    if (page.kind == ReportKind::Daily) {
        ReportTables tables;
        QList<ReportChannel> channels;
        for (const QString& key : qAsConst(page.keys))
            channels.append(ReportChannel::fromKey(key));
        GenerateAverageQueries worker(QStringLiteral("goldenkey"), database, dir.path(), startText,
                                      endText, channels, &tables);
        worker.start();
        QVERIFY(worker.wait(120000));
        compareWithGolden(page.file + QStringLiteral(".tables.txt"), tablesText(tables));
    }
    if (writer.isOpen())
        writer.close();
    writer = QSqlDatabase();
    QSqlDatabase::removeDatabase(writerName);
}

void TestReportPages::pagesWithoutWindow_data()
{
    QTest::addColumn<PageCase>("page");
    for (const PageCase& c : pageCases()) {
        // The command line makes reports of whole days from their first second.
        const bool wholeDays =
            c.kind != ReportKind::Daily || c.start.endsWith(QLatin1String(" 00:00:00"));
        if (wholeDays && !c.removeDatabase && !c.writerOpen)
            QTest::newRow(qPrintable(c.tag)) << c;
    }
}

// Catches a report made from the command line that differs from the window's (same golden
// files), or that makes a window.
void TestReportPages::pagesWithoutWindow()
{
    QFETCH(PageCase, page);
    QTemporaryDir dir;
    writeFiles(page, dir);
    if (QTest::currentTestFailed())
        return;
    QStringList arguments{QStringLiteral("Tallyforge"), QStringLiteral("--report"),
                          ReportPeriod::kindName(page.kind), QStringLiteral("--start"),
                          page.start.left(10)};
    if (page.kind == ReportKind::Haccp)
        arguments << QStringLiteral("--period") << ReportPeriod::spanName(page.span);
    arguments << QStringLiteral("--channels") << page.keys.join(QLatin1Char(','))
              << QStringLiteral("--subject") << page.subject << QStringLiteral("--author")
              << page.author << QStringLiteral("--html") << dir.filePath(QStringLiteral("out"))
              << dir.filePath(QStringLiteral("Cold store.tpc"));
    const ReportCommandLine line = ReportCommandLine::parse(arguments);
    QCOMPARE(line.mode, ReportCommandLine::Batch);
    ReportBatch batch(line);
    QSignalSpy finished(&batch, &ReportBatch::finished);
    QVERIFY2(batch.start(), qPrintable(batch.errorText()));
    QVERIFY(finished.wait(120000));
    QVERIFY(QApplication::topLevelWidgets().isEmpty());

    QFile golden(QStringLiteral(GOLDEN_DIR "/") + page.file + QStringLiteral(".page.html"));
    QVERIFY(golden.open(QIODevice::ReadOnly));
    const QString expected = QString::fromUtf8(golden.readAll());
    const int split = expected.indexOf(QStringLiteral("\n\n"));
    const QString outcome = expected.left(split);
    if (outcome.contains(QStringLiteral("\nmade no\n"))) {
        QCOMPARE(batch.status(), 1);
        QVERIFY2(outcome.endsWith(QStringLiteral(": ") + batch.errorText()),
                 qPrintable(batch.errorText()));
        return;
    }
    QVERIFY2(batch.status() == 0, qPrintable(batch.errorText()));
    QFile file(dir.filePath(QStringLiteral("out.htm")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString html;
    QVERIFY(pageText(QString::fromUtf8(file.readAll()), &html));
    compareWithGolden(page.file + QStringLiteral(".page.html"),
                      outcome + QStringLiteral("\n\n") + html, false);
}

void TestReportPages::axisLabels_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("measured") << 21.5;
    QTest::newRow("just below the bound") << 999999999.0;
    QTest::newRow("the bound") << 1e9;
    QTest::newRow("negative bound") << -1e9;
    QTest::newRow("corrupted row") << 1e308;
    QTest::newRow("near the largest float") << -3.4e38;
}

// Catches value axis labels that differ from the tables' texts of the same value, or that print
// an extreme value with all its digits and so push the chart aside.
void TestReportPages::axisLabels()
{
    QFETCH(double, value);
    ReportWebPage page;
    const QString label = page.frame()
                              ->evaluateJavaScript(QStringLiteral("axisLabel(%1, 0, [%1, %2]);")
                                                       .arg(value, 0, 'g', 17)
                                                       .arg(value / 2, 0, 'g', 17))
                              .toString();
    if (std::fabs(value) >= ValueTextExponentFrom)
        QCOMPARE(label, valueText(value));
    else
        QVERIFY2(!label.contains(QLatin1Char('e')) && label.size() <= 12, qPrintable(label));
}

QTEST_MAIN(TestReportPages)
#include "tst_reportpages.moc"
