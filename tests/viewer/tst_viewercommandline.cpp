#include "alarmeventcsv.h"
#include "reportfixture.h"
#include "viewercommandline.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <tuple>

using namespace ReportFixture;

class TestViewerCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checks_data();
    void checks();
    void helpWithoutDisplay_data();
    void helpWithoutDisplay();
    void exportEvents_data();
    void exportEvents();
};

void TestViewerCommandLine::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestViewerCommandLine::checks_data()
{
    QTest::addColumn<QStringList>("arguments"); // %D: the folder, whose name has blanks
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<QByteArray>("deviceList");
    QTest::addColumn<QString>("message"); // %1 project, %2 database; empty: accepted
    // Expected --from and --to of an export, as local time, or a day alone: the first (from) or
    // last (to) second that day's clocks show. Empty: no export.
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");

    const QByteArray good = nestedDeviceList({QStringLiteral("7"), QStringLiteral("8")});
    QTest::newRow("split by the recorder's command text, quotes round it")
        << QStringList{QStringLiteral("'%D/my"), QStringLiteral("rooms/p.tpc'")} << true << good
        << QString() << QString() << QString();
    QTest::newRow("one quoted argument") << QStringList{QStringLiteral("'%D/my rooms/p.tpc'")}
                                         << true << good << QString() << QString() << QString();
    QTest::newRow("no argument") << QStringList{} << true << good
                                 << QStringLiteral("Please give the project file: Trendscope "
                                                   "PROJECT.tpc")
                                 << QString() << QString();
    QTest::newRow("project missing")
        << QStringList{QStringLiteral("%D/my rooms/q.tpc")} << true << good
        << QStringLiteral("Project file \"%1\" does not exist.") << QString() << QString();
    QTest::newRow("database missing, before the device list")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << false << QByteArray("[")
        << QStringLiteral("Database file \"%2\" does not exist.") << QString() << QString();
    QTest::newRow("device list broken")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << true << QByteArray("[")
        << QStringLiteral("The device list of the project file is damaged.") << QString()
        << QString();
    QTest::newRow("export options without --export-csv")
        << QStringList{QStringLiteral("--channels"), QStringLiteral("7_channel1"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("--from, --to and --channels go with --export-csv FILE.")
        << QString() << QString();
    QTest::newRow("option at the end without its value")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc"), QStringLiteral("--export-csv")} << true
        << good << QStringLiteral("--export-csv needs a value.") << QString() << QString();
    const QString exportTo = QStringLiteral("%D/out.csv");
    QTest::newRow("export from a time to a day")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-11-01 06:30:00"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-11-03"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-11-01 06:30:00")
        << QStringLiteral("2026-11-03");
    QTest::newRow("a day whose midnight a clock change skips in some zones")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-09-06"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-09-06"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-09-06")
        << QStringLiteral("2026-09-06");
    QTest::newRow("a day of 25 hours where summer time ends")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-10-25")
        << QStringLiteral("2026-10-25");
    QTest::newRow("events of a range") << QStringList{QStringLiteral("--export-events"),
                                                      exportTo,
                                                      QStringLiteral("--from"),
                                                      QStringLiteral("2026-10-25"),
                                                      QStringLiteral("--to"),
                                                      QStringLiteral("2026-10-25"),
                                                      QStringLiteral("%D/my rooms/p.tpc")}
                                       << true << good << QString() << QStringLiteral("2026-10-25")
                                       << QStringLiteral("2026-10-25");
    QTest::newRow("events without a range")
        << QStringList{QStringLiteral("--export-events"), exportTo,
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("--export-events needs --from and --to.") << QString()
        << QString();
    QTest::newRow("events by channel")
        << QStringList{QStringLiteral("--export-events"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("--channels"),
                       QStringLiteral("7_channel1"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("--channels goes with --export-csv, not --export-events.")
        << QString() << QString();
    QTest::newRow("samples and events at once")
        << QStringList{QStringLiteral("--export-events"), exportTo, QStringLiteral("--export-csv"),
                       exportTo, QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("Give one of --export-csv and --export-events, once.")
        << QString() << QString();
    QTest::newRow("neither a time nor a day")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-13-01"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-12-01"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good
        << QStringLiteral("--from needs a local time as \"yyyy-MM-dd hh:mm:ss\" or a day as "
                          "\"yyyy-MM-dd\", not \"2026-13-01\".")
        << QString() << QString();
}

// Catches a start-up that checks in another order than the report generator's, strips quotes
// inside the path, or lets export options through without an export.
void TestViewerCommandLine::checks()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDatabase);
    QFETCH(QByteArray, deviceList);
    QFETCH(QString, message);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("my rooms"));
    QVERIFY(QDir().mkpath(folder));
    writeProject(folder, QStringLiteral("p.tpc"), deviceList, 1000, QString(), QString());
    if (withDatabase)
        QVERIFY(writeDatabase(folder + QStringLiteral("/p.dat"), {}));
    for (QString& a : arguments)
        a.replace(QStringLiteral("%D"), dir.path());
    ViewerCommandLine::Options options;
    QString error;
    const bool ok = ViewerCommandLine::parse(arguments, &options, &error);
    if (message.isEmpty()) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(options.projectPath, folder + QStringLiteral("/p.tpc"));
        QCOMPARE(options.devices.size(), 2);
        QCOMPARE(options.exportCsv || options.exportEvents, !from.isEmpty());
        QCOMPARE(options.exportEvents, arguments.contains(QStringLiteral("--export-events")));
        // A day alone: the second is that day's, the one before (after) it the day before's
        // (after's).
        auto day = [](qint64 seconds) {
            return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
        };
        auto text = [](qint64 seconds) {
            return QDateTime::fromSecsSinceEpoch(seconds).toString(
                QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        };
        for (const auto& [expected, seconds, step] :
             {std::make_tuple(from, options.from, -1), std::make_tuple(to, options.to, 1)}) {
            if (expected.isEmpty())
                continue;
            if (expected.size() > 10) {
                QCOMPARE(text(seconds), expected);
                continue;
            }
            const QDate date = QDate::fromString(expected, Qt::ISODate);
            QCOMPARE(day(seconds), expected);
            QCOMPARE(day(seconds + step), date.addDays(step).toString(Qt::ISODate));
        }
    } else {
        QVERIFY(!ok);
        QCOMPARE(error, QString(message)
                            .replace(QStringLiteral("%1"), folder + QStringLiteral("/q.tpc"))
                            .replace(QStringLiteral("%2"), folder + QStringLiteral("/p.dat")));
    }
}

void TestViewerCommandLine::helpWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")};
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")};
    QTest::newRow("--help among export options") << QStringList{
        QStringLiteral("--export-csv"), QStringLiteral("out.csv"), QStringLiteral("--help")};
}

// Catches a --help that needs a display (and ends in "could not connect to display"), prints
// to the wrong stream or ends with another status than 0.
void TestViewerCommandLine::helpWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TRENDSCOPE_PATH), arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), ViewerCommandLine::usage());
    QCOMPARE(program.readAllStandardError(), QByteArray());
}

namespace {

qint64 utcSecs(const char* text)
{
    return QDateTime::fromString(QLatin1String(text), Qt::ISODate).toSecsSinceEpoch();
}

// Local time as Qt tells it: another way to the texts than the export's.
QByteArray local(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        .toUtf8();
}

} // namespace

void TestViewerCommandLine::exportEvents_data()
{
    QTest::addColumn<bool>("alarmLog");
    QTest::addColumn<QVector<AlarmEventRecord>>("events");
    QTest::addColumn<QString>("from"); // UTC
    QTest::addColumn<QString>("to");
    QTest::addColumn<QVector<qint64>>("exported"); // ids, in order
    QTest::addColumn<QByteArray>("berlinRow");     // a row's texts under Berlin time

    // Berlin's summer time ends 2026-10-25 03:00 (02:00 twice); Santiago's begins 2026-09-06.
    QVector<AlarmEventRecord> events;
    events << alarmEvent(1, QStringLiteral("7"), 1, AlarmKind::High,
                         utcSecs("2026-10-25T00:30:00Z"), utcSecs("2026-10-25T01:30:00Z"),
                         AlarmEnd::Cleared);
    events.last().limit = 8;
    events.last().extremeValue = 9.25;
    events.last().extremeTime = utcSecs("2026-10-25T01:00:00Z");
    events.last().acknowledgedAt = utcSecs("2026-10-25T01:10:00Z");
    events.last().acknowledgedBy = QStringLiteral("Ann O'Hara");
    events.last().comment = QStringLiteral("Door shut, \"seal\" checked,\nfan cleaned");
    events << alarmEvent(2, QStringLiteral("8"), 0, AlarmKind::NoData,
                         utcSecs("2026-09-06T03:30:00Z"), std::nullopt, AlarmEnd::Active);
    events << alarmEvent(3, QStringLiteral("7"), 2, AlarmKind::Low, utcSecs("2026-09-01T10:00:00Z"),
                         utcSecs("2026-09-01T11:00:00Z"), AlarmEnd::RecorderStopped);
    events.last().limit = 30;

    const QByteArray first =
        "1,7,Room 7,1,Temperature,high,8,2026-10-25 02:30:00,1792888200,2026-10-25 "
        "02:30:00,1792891800,"
        "cleared,9.25,2026-10-25 02:00:00,1792890000,2026-10-25 02:10:00,1792890600,Ann O'Hara,"
        "\"Door shut, \"\"seal\"\" checked,\nfan cleaned\"\r\n";
    QTest::newRow("across both clock changes, an active one")
        << true << events << QStringLiteral("2026-09-05T00:00:00Z")
        << QStringLiteral("2026-10-31T00:00:00Z") << QVector<qint64>{2, 1} << first;
    QTest::newRow("the range picks the events that lasted into it")
        << true << events << QStringLiteral("2026-09-01T10:30:00Z")
        << QStringLiteral("2026-09-01T10:30:00Z") << QVector<qint64>{3} << QByteArray();
    QTest::newRow("a file without the alarm table")
        << false << QVector<AlarmEventRecord>() << QStringLiteral("2026-09-05T00:00:00Z")
        << QStringLiteral("2026-10-31T00:00:00Z") << QVector<qint64>() << QByteArray();
}

// Catches an events export that writes UTC or a zone's standard time, loses an event of the
// range or takes one outside it, breaks a comment's quotes or line, needs a display, or fails on
// a file of an older project.
void TestViewerCommandLine::exportEvents()
{
    QFETCH(bool, alarmLog);
    QFETCH(QVector<AlarmEventRecord>, events);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QVector<qint64>, exported);
    QFETCH(QByteArray, berlinRow);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = writeProject(
        dir.path(), QStringLiteral("p.tpc"),
        nestedDeviceList({QStringLiteral("7"), QStringLiteral("8")}), 1000, QString(), QString());
    const QString database = dir.filePath(QStringLiteral("p.dat"));
    QVERIFY(writeDatabase(database, {}));
    if (alarmLog)
        QVERIFY(writeAlarmEvents(database, events));
    const QByteArray schema = [&] {
        QFile f(database);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    auto localArg = [](const QString& utc) {
        return QDateTime::fromString(utc, Qt::ISODate)
            .toLocalTime()
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    };
    const QString out = dir.filePath(QStringLiteral("events.csv"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TRENDSCOPE_PATH),
                  {QStringLiteral("--export-events"), out, QStringLiteral("--from"), localArg(from),
                   QStringLiteral("--to"), localArg(to), project});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.readAllStandardError(), QByteArray());
    QCOMPARE(program.exitCode(), 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.startsWith(AlarmEventCsv::header()));
    // Rows end in CRLF; a comment's own line break does not end one.
    QList<QByteArray> lines;
    for (int at = 0; at < text.size();) {
        const int end = text.indexOf("\r\n", at);
        QVERIFY(end >= 0);
        lines << text.mid(at, end - at);
        at = end + 2;
    }
    QCOMPARE(lines.size() - 1, exported.size());
    for (int n = 0; n < exported.size(); ++n) {
        const AlarmEventRecord& e =
            *std::find_if(events.cbegin(), events.cend(),
                          [&](const AlarmEventRecord& r) { return r.id == exported.at(n); });
        const QByteArray& line = lines.at(n + 1);
        QVERIFY2(line.startsWith(QByteArray::number(e.id) + ','), line.constData());
        // The times' local texts as Qt gives them, each beside its Unix seconds.
        QVERIFY2(line.contains(',' + local(e.start) + ',' + QByteArray::number(e.start) + ','),
                 line.constData());
        if (e.end)
            QVERIFY2(line.contains(',' + local(*e.end) + ',' + QByteArray::number(*e.end) + ','),
                     line.constData());
        else
            QVERIFY2(line.contains(",,,active,"), line.constData());
    }
    if (!berlinRow.isEmpty() && qgetenv("TZ") == "Europe/Berlin")
        QVERIFY2(text.contains("\r\n" + berlinRow), text.constData());
    // Read-only: the file is as it was.
    QFile after(database);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), schema);
}

QTEST_GUILESS_MAIN(TestViewerCommandLine)
#include "tst_viewercommandline.moc"
