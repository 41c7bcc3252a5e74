#include "clockchanges.h"
#include "reportrunrecord.h"
#include "reportschedule.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

// The calendar of scheduled reports under Europe/Berlin (TZ set by CTest): due times on the
// days the clock changes, periods missed while the recorder was off, the month's last day,
// 29 February and weeks across a year end. Times in the tables are ISO 8601 with their offset,
// so that the two 02:30 of the autumn day are told apart.
class TestReportSchedule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void due_data();
    void due();
    void eachPeriodOnce_data();
    void eachPeriodOnce();
    void keys_data();
    void keys();

private:
    static QDateTime at(const QString& iso);
    static ReportScheduleSettings settingsFor(const QString& kind, const QString& time, int day);
};

namespace {

// "daily.2026-03-27=2026-03-28T02:30:00+01:00=made": a recorded run.
ReportRunRecord run(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('='));
    ReportRunRecord r;
    r.kind = parts.at(0).section(QLatin1Char('.'), 0, 0);
    r.first = QDate::fromString(parts.at(0).section(QLatin1Char('.'), 1, 1), Qt::ISODate);
    r.last = r.kind == QLatin1String("daily")    ? r.first
             : r.kind == QLatin1String("weekly") ? r.first.addDays(6)
                                                 : r.first.addMonths(1).addDays(-1);
    r.dueMs = QDateTime::fromString(parts.at(1), Qt::ISODate).toMSecsSinceEpoch();
    r.madeMs = r.dueMs;
    r.state = parts.at(2);
    return r;
}

// "daily.2026-03-28..2026-03-28=2026-03-29T03:00:00+02:00" with " late" when late.
QString describe(const ScheduledPeriod& p)
{
    return p.key() + QStringLiteral("..") + p.last.toString(Qt::ISODate) + QLatin1Char('=') +
           p.due.toOffsetFromUtc(p.due.offsetFromUtc()).toString(Qt::ISODate) +
           (p.late ? QStringLiteral(" late") : QString());
}

} // namespace

void TestReportSchedule::initTestCase()
{
    QVERIFY2(ClockChanges::zoneInEffect(), "TZ=Europe/Berlin is not in effect");
}

QDateTime TestReportSchedule::at(const QString& iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    return QDateTime::fromMSecsSinceEpoch(t.toMSecsSinceEpoch(), Qt::LocalTime);
}

ReportScheduleSettings TestReportSchedule::settingsFor(const QString& kind, const QString& time,
                                                       int day)
{
    ReportScheduleSettings s;
    ReportScheduleSettings::Kind k = ReportScheduleSettings::Daily;
    ReportScheduleSettings::kindFromName(kind, &k);
    s.entries[k].enabled = true;
    s.entries[k].time = QTime::fromString(time, QStringLiteral("hh:mm"));
    s.entries[k].day = day;
    return s;
}

void TestReportSchedule::due_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("day");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("now");
    // The first periods due, in order, and how many in all.
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("count");

    // Faults: a due time in the skipped hour taken as never, or as an hour early (the walks of
    // eachPeriodOnce() check the due times on both days the clock changes).
    QTest::newRow("spring forward: at 03:00, once")
        << "daily" << "02:30" << 0
        << QStringList{"daily.2026-03-27=2026-03-28T02:30:00+01:00=made"} << "2026-03-28T12:00:00+01:00"
        << "2026-03-29T03:00:00+02:00"
        << QStringList{"daily.2026-03-28..2026-03-28=2026-03-29T03:00:00+02:00"} << 1;
    // Faults: the report made at the second 02:30 of the autumn day, or at both.
    QTest::newRow("fall back: due at the first 02:30")
        << "daily" << "02:30" << 0
        << QStringList{"daily.2026-10-23=2026-10-24T02:30:00+02:00=made"} << "2026-10-24T12:00:00+02:00"
        << "2026-10-25T02:30:00+02:00"
        << QStringList{"daily.2026-10-24..2026-10-24=2026-10-25T02:30:00+02:00"} << 1;
    // Faults: the days missed while off dropped, made once for all, or not marked late.
    QTest::newRow("off three days: three daily reports, late")
        << "daily" << "06:00" << 0
        << QStringList{"daily.2026-06-09=2026-06-10T06:00:00+02:00=sent"}
        << "2026-06-13T09:00:00+02:00" << "2026-06-13T09:00:00+02:00"
        << QStringList{"daily.2026-06-10..2026-06-10=2026-06-11T06:00:00+02:00 late",
                       "daily.2026-06-11..2026-06-11=2026-06-12T06:00:00+02:00 late",
                       "daily.2026-06-12..2026-06-12=2026-06-13T06:00:00+02:00 late"}
        << 3;
    // Fault: a schedule switched on makes every report back to the first recording.
    QTest::newRow("no run recorded: nothing from before the start")
        << "daily" << "06:00" << 0 << QStringList() << "2026-06-13T09:00:00+02:00"
        << "2026-06-13T09:30:00+02:00" << QStringList() << 0;
    QTest::newRow("no run recorded: due after the start")
        << "daily" << "06:00" << 0 << QStringList() << "2026-06-13T05:00:00+02:00"
        << "2026-06-13T06:00:00+02:00"
        << QStringList{"daily.2026-06-12..2026-06-12=2026-06-13T06:00:00+02:00"} << 1;
    // Fault: a catch-up without a bound after a long standstill.
    QTest::newRow("off for 40 days: the last 31 days")
        << "daily" << "06:00" << 0
        << QStringList{"daily.2026-04-30=2026-05-01T06:00:00+02:00=sent"}
        << "2026-06-10T08:00:00+02:00" << "2026-06-10T08:00:00+02:00"
        << QStringList{"daily.2026-05-10..2026-05-10=2026-05-11T06:00:00+02:00 late"} << 31;
    // Fault: a failed run forgotten, or its late mark lost.
    QTest::newRow("failed: due again")
        << "daily" << "06:00" << 0
        << QStringList{"daily.2026-06-12=2026-06-13T06:00:00+02:00=failed"}
        << "2026-06-13T05:00:00+02:00" << "2026-06-13T07:00:00+02:00"
        << QStringList{"daily.2026-06-12..2026-06-12=2026-06-13T06:00:00+02:00"} << 1;
    QTest::newRow("too large: not made again")
        << "daily" << "06:00" << 0
        << QStringList{"daily.2026-06-12=2026-06-13T06:00:00+02:00=too large"}
        << "2026-06-13T05:00:00+02:00" << "2026-06-13T07:00:00+02:00" << QStringList() << 0;
    // Fault: a clock set back makes a period again.
    QTest::newRow("clock set back after a report")
        << "daily" << "06:00" << 0
        << QStringList{"daily.2026-06-12=2026-06-13T06:00:00+02:00=made"}
        << "2026-06-13T05:00:00+02:00" << "2026-06-12T23:00:00+02:00" << QStringList() << 0;
    // Faults: "last" taken as day 28 or 30, February's last day missed in a leap year.
    QTest::newRow("monthly on the last day: 31 March")
        << "monthly" << "23:00" << ReportScheduleSettings::LastDay
        << QStringList{"monthly.2028-01-01=2028-02-29T23:00:00+01:00=sent"}
        << "2028-03-01T00:00:00+01:00" << "2028-03-31T23:00:00+02:00"
        << QStringList{"monthly.2028-02-01..2028-02-29=2028-03-31T23:00:00+02:00"} << 1;
    QTest::newRow("monthly on the last day: 29 February 2028")
        << "monthly" << "23:00" << ReportScheduleSettings::LastDay
        << QStringList{"monthly.2027-12-01=2028-01-31T23:00:00+01:00=sent"}
        << "2028-02-01T00:00:00+01:00" << "2028-02-29T23:00:00+01:00"
        << QStringList{"monthly.2028-01-01..2028-01-31=2028-02-29T23:00:00+01:00"} << 1;
    QTest::newRow("monthly off three months: three, late")
        << "monthly" << "07:00" << 1 << QStringList{"monthly.2026-05-01=2026-06-01T07:00:00+02:00=sent"}
        << "2026-09-02T00:00:00+02:00" << "2026-09-02T00:00:00+02:00"
        << QStringList{"monthly.2026-06-01..2026-06-30=2026-07-01T07:00:00+02:00 late",
                       "monthly.2026-07-01..2026-07-31=2026-08-01T07:00:00+02:00 late",
                       "monthly.2026-08-01..2026-08-31=2026-09-01T07:00:00+02:00 late"}
        << 3;
    // Faults: 29 February skipped or taken twice by the daily report.
    QTest::newRow("daily: 29 February 2028")
        << "daily" << "06:00" << 0 << QStringList{"daily.2028-02-28=2028-02-29T06:00:00+01:00=sent"}
        << "2028-02-29T07:00:00+01:00" << "2028-03-01T06:00:00+01:00"
        << QStringList{"daily.2028-02-29..2028-02-29=2028-03-01T06:00:00+01:00"} << 1;
    // Faults: a week across the year end cut at 31 December, or its Monday taken from the new
    // year's first week.
    QTest::newRow("weekly across the year end")
        << "weekly" << "07:00" << 1 << QStringList{"weekly.2026-12-21=2026-12-28T07:00:00+01:00=sent"}
        << "2026-12-30T00:00:00+01:00" << "2027-01-04T07:00:00+01:00"
        << QStringList{"weekly.2026-12-28..2027-01-03=2027-01-04T07:00:00+01:00"} << 1;
    QTest::newRow("weekly on Wednesday: the Monday-to-Sunday week before")
        << "weekly" << "07:00" << 3 << QStringList{"weekly.2027-12-20=2027-12-29T07:00:00+01:00=sent"}
        << "2027-12-30T00:00:00+01:00" << "2028-01-05T07:00:00+01:00"
        << QStringList{"weekly.2027-12-27..2028-01-02=2028-01-05T07:00:00+01:00"} << 1;
}

void TestReportSchedule::due()
{
    QFETCH(QString, kind);
    QFETCH(QString, time);
    QFETCH(int, day);
    QFETCH(QStringList, runs);
    QFETCH(QString, since);
    QFETCH(QString, now);
    QFETCH(QStringList, expected);
    QFETCH(int, count);

    QVector<ReportRunRecord> recorded;
    for (const QString& r : qAsConst(runs))
        recorded << run(r);
    const QVector<ScheduledPeriod> due =
        ReportSchedule(settingsFor(kind, time, day)).due(recorded, at(since), at(now));
    QStringList got;
    for (const ScheduledPeriod& p : due)
        got << describe(p);
    QCOMPARE(got.mid(0, expected.size()), expected);
    QCOMPARE(got.size(), count);
    QCOMPARE(QSet<QString>(got.cbegin(), got.cend()).size(), got.size());
}

void TestReportSchedule::eachPeriodOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("day");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("periods");

    // Faults: a period made twice on the day the clock goes back, or none on the day it jumps.
    QTest::newRow("daily 02:30 across summer time's start")
        << "daily" << "02:30" << 0 << "2026-03-27T12:00:00+01:00" << "2026-03-31T12:00:00+02:00"
        << QStringList{"daily.2026-03-27", "daily.2026-03-28", "daily.2026-03-29",
                       "daily.2026-03-30"};
    QTest::newRow("daily 02:30 across summer time's end")
        << "daily" << "02:30" << 0 << "2026-10-23T12:00:00+02:00" << "2026-10-27T12:00:00+01:00"
        << QStringList{"daily.2026-10-23", "daily.2026-10-24", "daily.2026-10-25",
                       "daily.2026-10-26"};
    QTest::newRow("weekly Monday 02:30 across the year end")
        << "weekly" << "02:30" << 1 << "2026-12-20T12:00:00+01:00" << "2027-01-12T12:00:00+01:00"
        << QStringList{"weekly.2026-12-14", "weekly.2026-12-21", "weekly.2026-12-28",
                       "weekly.2027-01-04"};
    QTest::newRow("monthly last day through February 2028")
        << "monthly" << "23:30" << int(ReportScheduleSettings::LastDay)
        << "2028-01-15T12:00:00+01:00" << "2028-04-02T12:00:00+02:00"
        << QStringList{"monthly.2027-12-01", "monthly.2028-01-01", "monthly.2028-02-01"};
}

// A recorder running on, asked every ten minutes, recording what it made.
void TestReportSchedule::eachPeriodOnce()
{
    QFETCH(QString, kind);
    QFETCH(QString, time);
    QFETCH(int, day);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, periods);

    const ReportSchedule schedule(settingsFor(kind, time, day));
    const QDateTime start = at(from);
    QVector<ReportRunRecord> recorded;
    QStringList made;
    for (QDateTime now = start; now <= at(to); now = now.addSecs(600)) {
        for (const ScheduledPeriod& p : schedule.due(recorded, start, now)) {
            QVERIFY2(p.due <= now && now < p.due.addSecs(600),
                     qPrintable(p.key() + QStringLiteral(" at ") + now.toString(Qt::ISODate)));
            QVERIFY(!p.late);
            made << p.key();
            ReportRunRecord r;
            r.kind = ReportScheduleSettings::kindName(p.kind);
            r.first = p.first;
            r.last = p.last;
            r.dueMs = p.due.toMSecsSinceEpoch();
            r.state = ReportRunRecord::stateMade();
            recorded << r;
        }
    }
    QCOMPARE(made, periods);
}

void TestReportSchedule::keys_data()
{
    QTest::addColumn<QByteArray>("lines");
    // What load() makes of them: "daily HH:mm", "weekly DAY HH:mm", "monthly DAY HH:mm" for the
    // kinds on, then the recipients.
    QTest::addColumn<QStringList>("read");
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("no keys: nothing scheduled") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("as the dialog writes them")
        << QByteArray("ReportScheduleDaily=1\nReportScheduleDailyTime=06:30\n"
                      "ReportScheduleWeekly=1\nReportScheduleWeeklyDay=Sunday\n"
                      "ReportScheduleWeeklyTime=23:59\nReportScheduleMonthly=1\n"
                      "ReportScheduleMonthlyDay=last\nReportScheduleMonthlyTime=00:00\n"
                      "ReportScheduleRecipients=\"a@x.example, b@y.example\"\n")
        << QStringList{"daily 06:30", "weekly 7 23:59", "monthly 0 00:00", "a@x.example",
                       "b@y.example"}
        << QStringList();
    // Faults: a hand edit out of bounds taken as it is, or read silently as the default.
    QTest::newRow("time out of bounds")
        << QByteArray("ReportScheduleDaily=1\nReportScheduleDailyTime=24:00\n")
        << QStringList{"daily 06:00"}
        << QStringList{"ReportScheduleDailyTime: not a time hh:mm, 06:00 used"};
    QTest::newRow("day 29 of the month")
        << QByteArray("ReportScheduleMonthly=1\nReportScheduleMonthlyDay=29\n")
        << QStringList{"monthly 1 06:00"}
        << QStringList{"ReportScheduleMonthlyDay: not a day from 1 to 28 or \"last\", 1 used"};
    // Fault: an address that would end the SMTP command or a header taken into the list.
    QTest::newRow("hostile address left out")
        << QByteArray("ReportScheduleRecipients=\"a@x.example, b@y.example>\\r\\nRCPT TO:<c@z\"\n")
        << QStringList{"a@x.example"}
        << QStringList{"ReportScheduleRecipients: not a valid address, left out: b@y.example>",
                       "ReportScheduleRecipients: not a valid address, left out: RCPT",
                       "ReportScheduleRecipients: not a valid address, left out: TO:<c@z"};
}

void TestReportSchedule::keys()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, read);
    QFETCH(QStringList, problems);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.tpc"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nDataInterval=1000\n" + lines);
    file.close();
    const ReportScheduleSettings s = ReportScheduleSettings::load(path);
    QStringList got;
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k) {
        const ReportScheduleSettings::Entry& e = s.entries[k];
        if (!e.enabled)
            continue;
        got << ReportScheduleSettings::kindName(ReportScheduleSettings::Kind(k)) +
                   (k == ReportScheduleSettings::Daily ? QString()
                                                       : QLatin1Char(' ') + QString::number(e.day)) +
                   QLatin1Char(' ') + e.time.toString(QStringLiteral("hh:mm"));
    }
    got << s.recipients;
    QCOMPARE(got, read);
    QCOMPARE(s.keyProblems, problems);
    // What save() writes reads back the same.
    s.save(path);
    QVERIFY(ReportScheduleSettings::load(path) == s);
}

QTEST_GUILESS_MAIN(TestReportSchedule)
#include "tst_reportschedule.moc"
