// `Tallyforge --report KIND ... --csv FILE` as a script runs it: the page's tables in its order
// with the same run's figures, days of 23 and 25 hours (TZ=Europe/Berlin), names a spreadsheet
// would run as formulas, a file that cannot be written.

#include "alarmsuppressiontable.h"
#include "csvrecords.h"
#include "novalue.h"
#include "reportcommandline.h"
#include "reportfixture.h"
#include "reportrequest.h"
#include "reportrun.h"
#include "sqliteconnection.h"
#include "valuetext.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <cmath>

using namespace ReportFixture;

namespace {

// The file's first line, the titles of its tables, and each table (headers first) by title.
struct CsvFile
{
    QStringList first, titles;
    QMap<QString, QList<QStringList>> tables;
};

CsvFile readCsv(const QString& path, bool* wellFormed)
{
    QFile file(path);
    *wellFormed = file.open(QIODevice::ReadOnly);
    const QList<QStringList> records = parseCsv(QString::fromUtf8(file.readAll()), wellFormed);
    CsvFile csv{records.value(0), {}, {}};
    for (int i = 1; i < records.size(); ++i) {
        if (records.at(i) == QStringList{QString()}) // an empty line, then the title
            csv.titles.append(records.value(++i).value(0));
        else if (!csv.titles.isEmpty())
            csv.tables[csv.titles.last()].append(records.at(i));
        else
            *wellFormed = false;
    }
    return csv;
}

const QString HostileNames[] = {"=HYPERLINK(\"http://x\")", "+1, \"A\"\r\nnorth"};

// CS_01 (limits -5 to 8) and RM_03 every 5 minutes on 2026-03-23 to 30 and 2026-10-24 to 26,
// named as formulas (one with a comma, quotes and a line break). CS_01's temperature dips below
// zero every day, runs above 8 on the 29th from 10:00 to 10:40 and stops at 14:00 for half an
// hour. An event of that excursion, acknowledged and signed, and a shelve of CS_01 that morning.
QString writeFixture(const QString& folder)
{
    QByteArray list = nestedDeviceList({"CS_01", "RM_03"}, {{-5, 8, 0, 0}, {15, 25, 0, 0}});
    for (const auto& [from, to] : {std::pair<QString, QString>{"Room CS_01", HostileNames[0]},
                                   {"Room RM_03", HostileNames[1]}}) {
        const QByteArray json = QJsonDocument(QJsonArray{to}).toJson(QJsonDocument::Compact);
        list.replace(QByteArray("\"") + from.toUtf8() + '"', json.mid(1, json.size() - 2));
    }
    list.replace("\"Temperature\"", "\"@SUM(A1)\"").replace("\"Humidity\"", "\"-2\"");
    const QString project = writeProject(folder, "Cold store.tpc", list, 300000,
                                         "2026-03-23 00:00:00", "2026-10-27 00:00:00");
    const qint64 high = localSecs("2026-03-29 10:00:00");
    const qint64 stop = localSecs("2026-03-29 14:00:00");
    QList<Sample> samples;
    for (const auto& [first, end] :
         {std::pair{"2026-03-23", "2026-03-31"}, {"2026-10-24", "2026-10-27"}}) {
        for (qint64 t = localSecs(first + QStringLiteral(" 00:00:00"));
             t < localSecs(end + QStringLiteral(" 00:00:00")); t += 300) {
            const double cold = t >= high && t < high + 2400
                                    ? 9.5
                                    : std::round(300 + 500 * std::sin(t * M_PI / 43200)) / 100;
            if (t < stop || t >= stop + 1800)
                samples.append({"CS_01", cold, 60.0, t});
            samples.append({"RM_03", 20.0, 45.0, t + 1});
        }
    }
    const QString database = folder + QStringLiteral("/Cold store.dat");
    AlarmEventRecord event = alarmEvent(1, "CS_01", 1, AlarmKind::High, high, high + 2400);
    event.limit = 8.0;
    event.acknowledgedAt = high + 600;
    event.comment = "\t=door, \"left\" open\nclosed";
    AlarmSuppression shelve;
    shelve.serial = "CS_01";
    shelve.channel = 1;
    shelve.from = high - 4 * 3600;
    shelve.until = high - 2 * 3600;
    shelve.reason = "-defrost";
    SqliteConnection db;
    QString error;
    return writeDatabase(database, samples, true, true) && writeAlarmEvents(database, {event}) &&
                   writeAlarmSignature(database, event, "olga", "Olga Berg") &&
                   db.open(database, SQLITE_OPEN_READWRITE) &&
                   AlarmSuppressionTable::insert(db.get(), shelve, &error)
               ? project
               : QString();
}

// Runs the program without a display in a German locale, "%O" replaced by the output folder; its
// exit status and what it printed.
std::pair<int, QString> run(QStringList arguments, const QString& output)
{
    QProcess tallyforge;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    environment.insert("LC_ALL", "de_DE.UTF-8"); // a decimal comma must not reach the file
    tallyforge.setProcessEnvironment(environment);
    arguments.replaceInStrings(QStringLiteral("%O"), output);
    tallyforge.start(QStringLiteral(TALLYFORGE_PROGRAM), arguments);
    if (!tallyforge.waitForFinished(120000) || tallyforge.exitStatus() != QProcess::NormalExit)
        return {-1, QString()};
    return {tallyforge.exitCode(), QString::fromLocal8Bit(tallyforge.readAllStandardError())};
}

} // namespace

class TestReportCsv : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void kinds_data();
    void kinds();
    void unwritable_data();
    void unwritable();

private:
    QTemporaryDir fixture;
    QString project;
};

void TestReportCsv::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Berlin"));
    project = writeFixture(fixture.path());
    QVERIFY(!project.isEmpty());
}

void TestReportCsv::kinds_data()
{
    QTest::addColumn<QStringList>("arguments"); // kind, start, more
    QTest::addColumn<int>("periodRows");
    QTest::addColumn<QString>("titles"); // joined by "|"
    const QString head = "Report|Channels|", table = "Data Table (Avg/Min/Max)|";
    const QString shelves = "Period Summary|Shelved Alarms and Nodes out of Service|",
                  end = "Audit Trail Head";
    const QString haccp = head +
                          "Critical Limits|Daily Figures (Min/Max/Avg, Time out of Limits)|"
                          "Excursions|Data Gaps|Alarm Events|" +
                          shelves + end;
    QTest::newRow("daily, 23-hour day")
        << QStringList{"daily", "2026-03-29"} << 23 << QString(head + table + shelves + end);
    QTest::newRow("daily, 25-hour day, with PDF")
        << QStringList{"daily", "2026-10-25", "--pdf", "%O/r.pdf"} << 25
        << QString(head + table + "Period Summary|" + end);
    QTest::newRow("weekly") << QStringList{"weekly", "2026-03-25"} << 7
                            << QString(head + table + shelves + end);
    QTest::newRow("monthly, days without data") << QStringList{"monthly", "2026-10-01"} << 31
                                                << QString(head + table + "Period Summary|" + end);
    QTest::newRow("haccp week, with HTML")
        << QStringList{"haccp", "2026-03-25", "--period", "week", "--html", "%O/r.htm"} << 7
        << haccp;
}

// Catches a table left out or out of the page's order, figures other than the run's (an hour
// dropped or padded on a day of 23 or 25 hours, columns swapped), times not named local, and
// the page written without its tables or the tables without the page.
void TestReportCsv::kinds()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, periodRows);
    QFETCH(QString, titles);
    QTemporaryDir out;
    const QStringList all =
        QStringList{"--report", arguments.takeFirst(), "--start", arguments.takeFirst()}
        << arguments << "--csv" << out.filePath("r.csv") << project;
    const auto [status, errors] = run(all, out.path());
    QVERIFY2(status == 0 && errors.isEmpty(), qPrintable(errors));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), arguments.isEmpty() ? 1 : 2);

    // The same report made here: the file must show its tables.
    const ReportCommandLine line = ReportCommandLine::parse(QStringList{"Tallyforge"} + all);
    ReportRun::Settings settings;
    QString errorText;
    QCOMPARE(ReportRequest::settingsOf(line, &settings, &errorText), 0);
    ReportRun reportRun;
    QSignalSpy done(&reportRun, &ReportRun::done);
    QVERIFY(reportRun.start(settings));
    QVERIFY(done.wait(120000));
    const ReportTables& tables = reportRun.tables();

    bool wellFormed = false;
    const CsvFile csv = readCsv(out.filePath("r.csv"), &wellFormed);
    QVERIFY(wellFormed);
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QCOMPARE(csv.first,
             (QStringList{ReportPeriod::title(line.kind), settings.start.toString(format),
                          settings.end.toString(format), "Times are local, Europe/Berlin"}));
    QCOMPARE(csv.titles.join(QLatin1Char('|')), titles);
    const QList<QStringList> channels = csv.tables.value("Channels");
    QCOMPARE(channels.value(1).mid(1, 2)
                 << channels.value(2).value(1) << channels.value(3).value(2),
             (QStringList{"'@SUM(A1)", "'" + HostileNames[0], "'-2", "'" + HostileNames[1]}));
    const bool haccp = line.kind == ReportKind::Haccp;
    const QList<QStringList> rows = csv.tables.value(csv.titles.value(haccp ? 3 : 2));
    QCOMPARE(tables.periodRows.size(), periodRows);
    QCOMPARE(rows.size(), 1 + periodRows);
    QCOMPARE(rows.first().value(2), QStringLiteral("Start (Europe/Berlin)"));
    auto figure = [](double v) { return v == NoValue ? QString() : valueText(v); };
    int i = 0;
    for (auto it = tables.periodRows.constBegin(); it != tables.periodRows.constEnd(); ++it) {
        // A day without values shows empty cells, as on the page. Below zero: still a number.
        const bool values = it->min[0] != NoValue;
        const QString average = values ? figure(it->avg[0]) : QString();
        const QStringList expected =
            QStringList{it->label, QDateTime::fromSecsSinceEpoch(it.key()).toString(format)} +
            (haccp ? QStringList{figure(it->min[0]), figure(it->max[0]), average,
                                 values ? QString::number(it->outSeconds[0]) : QString()}
                   : QStringList{average, figure(it->min[0]), figure(it->max[0])});
        QCOMPARE(rows.at(++i).mid(1, expected.size()), expected);
    }
    // The period summary's figures are the run's, numbers as numbers.
    const QStringList summary = csv.tables.value("Period Summary").value(1);
    QCOMPARE(tables.periodSummaries.size(), settings.channels.size());
    const ChannelPeriodSummary& first = tables.periodSummaries.at(0);
    QCOMPARE(summary.value(2), QString::number(first.count));
    QCOMPARE(summary.value(6),
             std::isnan(first.meanKinetic) ? QString() : valueText(first.meanKinetic));
    QCOMPARE(summary.value(14), QString::number(first.noDataSeconds));
    if (!haccp)
        return;
    qint64 out0 = 0;
    for (const PeriodRow& row : tables.periodRows)
        out0 += row.outSeconds[0];
    QCOMPARE(csv.tables.value("Critical Limits").value(1).mid(2, 3),
             (QStringList{"-5.00", "8.00", QString::number(out0)}));
    QCOMPARE(csv.tables.value("Excursions").size(), 1 + tables.excursions.size());
    const QStringList event = csv.tables.value("Alarm Events").value(1);
    QCOMPARE(event.value(12), QStringLiteral("'\t=door, \"left\" open\nclosed"));
    QVERIFY(event.value(18) == tables.alarmSignatures.value(1) && event.value(18).contains("Olga"));
}

void TestReportCsv::unwritable_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("a directory") << QStringList{"--csv", "%O/r.csv"};
    QTest::newRow("a directory, with PDF") << QStringList{"--csv", "%O/r.csv", "--pdf", "%O/r.pdf"};
    QTest::newRow("below a file") << QStringList{"--csv", project + "/r.csv"};
}

// Catches a file that cannot be written reported as written, and a partial or temporary file
// left behind. (A read-only folder is no obstacle to root, who runs these tests.)
void TestReportCsv::unwritable()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir out;
    QVERIFY(QDir(out.path()).mkdir("r.csv"));
    const auto [status, errors] = run(
        QStringList{"--report", "daily", "--start", "2026-03-29", project} + arguments, out.path());
    QVERIFY2(status == 1 && errors.contains(QLatin1String("Unable to")), qPrintable(errors));
    QStringList left = QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.removeAll("r.pdf"); // the page, written before the tables
    QCOMPARE(left, QStringList{"r.csv"});
    QVERIFY(QDir(out.filePath("r.csv")).isEmpty());
}

QTEST_GUILESS_MAIN(TestReportCsv)
#include "tst_reportcsv.moc"
