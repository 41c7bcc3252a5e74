#include "csvexporter.h"
#include "csvexportjob.h"
#include "localtimetext.h"
#include "novalue.h"
#include "reportfixture.h"
#include "summarycache.h"
#include "viewerfixture.h"
#include "viewersamplereader.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using ReportFixture::Sample;

Q_DECLARE_METATYPE(QList<Sample>)

namespace {

// 2026-03-29 and 2026-10-25 are the days Berlin's clocks go forward and back.
constexpr qint64 SpringUtc0100 = 1774746000; // 2026-03-29 01:00:00 UTC = 03:00 CEST
constexpr qint64 AutumnUtc0030 = 1792888200; // 2026-10-25 00:30:00 UTC = 02:30 CEST

QString project(const QTemporaryDir& dir, const QList<Sample>& samples, bool indexed)
{
    const QString path = ReportFixture::writeProject(
        dir.path(), QStringLiteral("Shop.tpc"),
        ReportFixture::nestedDeviceList({QStringLiteral("A1"), QStringLiteral("B2")}), 1000,
        QString(), QString());
    const QString database = dir.filePath(QStringLiteral("Shop.dat"));
    ReportFixture::writeDatabase(database, samples, true);
    if (indexed) {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("ix"));
        db.setDatabaseName(database);
        db.open();
        QSqlQuery(db).exec(QStringLiteral(
            "create index quorbinal_serialno_pointdate on quorbinal (serialno, pointDate)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("ix"));
    return path;
}

} // namespace

class TestCsvExporter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rows_data();
    void rows();
    void localTimeAcrossSummerTime();
    void cancelLeavesNoFile();
    void command_data();
    void command();
};

void TestCsvExporter::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Berlin"));
}

void TestCsvExporter::rows_data()
{
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QStringList>("columns"); // serial:channel:label
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<QString>("csv");

    const qint64 t = 1780000000; // 2026-05-28 22:26:40 CEST
    const QList<Sample> twoNodes{
        {QStringLiteral("A1"), 21.5, 40.25, t},
        {QStringLiteral("B2"), -3.75, 88, t + 1},
        {QStringLiteral("A1"), QVariant(), 41, t + 2},
        {QStringLiteral("B2"), 1234567.0, 0.1, t + 2},
        {QStringLiteral("A1"), 22, 42, t + 3},
    };
    const QString header = QStringLiteral("Local time,Unix time,");
    for (bool indexed : {false, true}) {
        const QString suffix = indexed ? QStringLiteral(", index") : QString();
        QTest::newRow(qPrintable(QStringLiteral("one row per time, empty cells") + suffix))
            << twoNodes << QStringList{QStringLiteral("A1:1:A"), QStringLiteral("B2:2:B")} << t
            << t + 3
            << header + QStringLiteral("A,B\r\n"
                                       "2026-05-28 22:26:40,1780000000,21.5,\r\n"
                                       "2026-05-28 22:26:41,1780000001,,88\r\n"
                                       "2026-05-28 22:26:42,1780000002,,0.1\r\n"
                                       "2026-05-28 22:26:43,1780000003,22,\r\n");
        QTest::newRow(qPrintable(QStringLiteral("period limits, both channels of a node") + suffix))
            << twoNodes << QStringList{QStringLiteral("B2:1:x"), QStringLiteral("B2:2:y")} << t + 2
            << t + 2
            << header + QStringLiteral("x,y\r\n2026-05-28 22:26:42,1780000002,1234567,0.1\r\n");
        // As in the reports: the later of two rows in one second counts, whole, and the
        // no-value marker is no value.
        QTest::newRow(
            qPrintable(QStringLiteral("two rows of a node at one time: the later") + suffix))
            << QList<Sample>{{QStringLiteral("A1"), 3, 5, t},
                             {QStringLiteral("A1"), 7, QVariant(), t},
                             {QStringLiteral("A1"), 8, 9, t + 1},
                             {QStringLiteral("A1"), 1, 2, t + 1},
                             {QStringLiteral("A1"), NoValue, 4, t + 2}}
            << QStringList{QStringLiteral("A1:1:a"), QStringLiteral("A1:2:b")} << t << t + 5
            << header + QStringLiteral("a,b\r\n2026-05-28 22:26:40,1780000000,7,\r\n"
                                       "2026-05-28 22:26:41,1780000001,1,2\r\n"
                                       "2026-05-28 22:26:42,1780000002,,4\r\n");
    }
    QTest::newRow("labels quoted as RFC 4180 asks")
        << QList<Sample>{{QStringLiteral("A1"), 1, 2, t}}
        << QStringList{QStringLiteral("A1:1:Freezer, left - T [\u00B0C]"),
                       QStringLiteral("A1:2:The \"big\" one")}
        << t << t
        << header + QStringLiteral("\"Freezer, left - T [\u00B0C]\",\"The \"\"big\"\" one\"\r\n"
                                   "2026-05-28 22:26:40,1780000000,1,2\r\n");
    QTest::newRow("nothing in the period: the header alone")
        << twoNodes << QStringList{QStringLiteral("A1:1:a")} << t + 100 << t + 200
        << header + QStringLiteral("a\r\n");
}

// Catches rows lost or repeated at slice and node boundaries, values in the wrong column, NULL
// written as a number, unquoted labels, and times written in UTC.
void TestCsvExporter::rows()
{
    QFETCH(QList<Sample>, samples);
    QFETCH(QStringList, columns);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(QString, csv);
    const bool indexed =
        QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("index"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = project(dir, samples, indexed);
    const std::shared_ptr<SummaryCache> cache = ViewerFixture::buildSummary(path);
    QVERIFY(cache);
    ViewerSampleReader store;
    QVERIFY(store.open(dir.filePath(QStringLiteral("Shop.dat"))));
    QVector<CsvExporter::Column> list;
    for (const QString& c : columns)
        list << CsvExporter::Column{c.section(QLatin1Char(':'), 0, 0).toUtf8(),
                                    c.section(QLatin1Char(':'), 1, 1).toInt(),
                                    c.section(QLatin1Char(':'), 2)};
    for (qint64 slice : {1, 2, 3600}) {
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        CsvExporter exporter(&store, cache.get());
        exporter.setSliceSeconds(slice);
        QVERIFY2(exporter.write(list, from, to, &out), qPrintable(exporter.error()));
        QCOMPARE(QString::fromUtf8(out.data()), csv);
    }
}

// Catches local times written from a fixed offset: the hour that does not exist in spring is
// skipped and the hour that happens twice in autumn is written twice.
void TestCsvExporter::localTimeAcrossSummerTime()
{
    LocalTimeText clock;
    QCOMPARE(clock.text(SpringUtc0100 - 1), QByteArray("2026-03-29 01:59:59"));
    QCOMPARE(clock.text(SpringUtc0100), QByteArray("2026-03-29 03:00:00"));
    QCOMPARE(clock.text(AutumnUtc0030), QByteArray("2026-10-25 02:30:00"));
    QCOMPARE(clock.text(AutumnUtc0030 + 1799), QByteArray("2026-10-25 02:59:59"));
    QCOMPARE(clock.text(AutumnUtc0030 + 1800), QByteArray("2026-10-25 02:00:00"));
    QCOMPARE(clock.text(AutumnUtc0030 + 3600), QByteArray("2026-10-25 02:30:00"));
    // The minute cache must not carry a minute's calendar into the next.
    QCOMPARE(clock.text(AutumnUtc0030 + 3659), QByteArray("2026-10-25 02:30:59"));
    QCOMPARE(clock.text(AutumnUtc0030 + 3660), QByteArray("2026-10-25 02:31:00"));
    QCOMPARE(clock.text(AutumnUtc0030 - 86400 * 200), QByteArray("2026-04-08 02:30:00"));
}

// Catches a cancelled export that leaves a half-written file behind or reports success.
void TestCsvExporter::cancelLeavesNoFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const qint64 t = 1780000000;
    QList<Sample> samples;
    for (int i = 0; i < 20; ++i)
        samples << Sample{QStringLiteral("A1"), i, i, t + 600 * i};
    const QString path = project(dir, samples, true);
    const QString file = dir.filePath(QStringLiteral("cut.csv"));
    CsvExportJob job(dir.filePath(QStringLiteral("Shop.dat")), ViewerFixture::buildSummary(path),
                     {CsvExporter::Column{"A1", 1, QStringLiteral("a")}}, t, t + 12000, file, 600);
    QSignalSpy finished(&job, &CsvExportJob::finished);
    int slices = 0;
    connect(&job, &CsvExportJob::progress, &job, [&]() {
        if (++slices == 3)
            job.cancel();
    });
    job.run();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(finished.first().at(1).toString(), QStringLiteral("Export cancelled."));
    QCOMPARE(slices, 3);
    QVERIFY(!QFile::exists(file));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("cut*")}, QDir::Files), QStringList());
}

void TestCsvExporter::command_data()
{
    QTest::addColumn<QStringList>("arguments"); // %P project, %F output file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // part of stderr; empty for none
    QTest::addColumn<int>("rows");        // data rows in the file; -1: no file

    const QString from = QStringLiteral("2026-05-28 22:26:40");
    const QString to = QStringLiteral("2026-05-28 22:26:43");
    QTest::newRow("all channels") << QStringList{"--export-csv", "%F", "--from", from,
                                                 "--to",         to,   "%P"}
                                  << 0 << QString() << 4;
    QTest::newRow("chosen channels, project path in the recorder's quotes")
        << QStringList{"--export-csv", "%F",          "--from", from, "--to", to,
                       "--channels",   "B2_channel2", "'%P'"}
        << 0 << QString() << 1;
    QTest::newRow("unknown channel")
        << QStringList{"--export-csv", "%F",          "--from", from, "--to", to,
                       "--channels",   "A1_channel3", "%P"}
        << 2 << QStringLiteral("Unknown channel \"A1_channel3\"") << -1;
    QTest::newRow("time not in the format")
        << QStringList{"--export-csv", "%F", "--from", "28.05.2026", "--to", to, "%P"} << 2
        << QStringLiteral("--from needs a local time") << -1;
    QTest::newRow("period backwards")
        << QStringList{"--export-csv", "%F", "--from", to, "--to", from, "%P"} << 2
        << QStringLiteral("--from lies after --to") << -1;
    QTest::newRow("no --to") << QStringList{"--export-csv", "%F", "--from", from, "%P"} << 2
                             << QStringLiteral("needs --from and --to") << -1;
    QTest::newRow("no project") << QStringList{"--export-csv", "%F", "--from", from, "--to", to}
                                << 2 << QStringLiteral("Please give the project file") << -1;
    QTest::newRow("project missing")
        << QStringList{"--export-csv", "%F", "--from", from, "--to", to, "%P.gone"} << 2
        << QStringLiteral("does not exist") << -1;
}

// Catches an export without a window that reports failure as success, writes a file after
// an error, or needs a display.
void TestCsvExporter::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(int, rows);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const qint64 t = 1780000000;
    const QString path = project(dir,
                                 {{QStringLiteral("A1"), 21.5, 40.25, t},
                                  {QStringLiteral("B2"), -3.75, 88, t + 1},
                                  {QStringLiteral("A1"), QVariant(), 41, t + 2},
                                  {QStringLiteral("A1"), 22, 42, t + 3}},
                                 false);
    const QString file = dir.filePath(QStringLiteral("out.csv"));
    for (QString& a : arguments)
        a.replace(QStringLiteral("%P"), path).replace(QStringLiteral("%F"), file);
    QProcess viewer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(TRENDSCOPE_PATH), arguments);
    QVERIFY(viewer.waitForFinished(60000));
    const QString errors = QString::fromUtf8(viewer.readAllStandardError());
    QCOMPARE(viewer.exitCode(), exitCode);
    if (message.isEmpty())
        QCOMPARE(errors, QString());
    else
        QVERIFY2(errors.contains(message), qPrintable(errors));
    QFile out(file);
    QCOMPARE(out.exists(), rows >= 0);
    if (rows >= 0) {
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = out.readAll().split('\n');
        QCOMPARE(lines.size() - 2, rows); // header and the empty text after the last line end
    }
}

QTEST_GUILESS_MAIN(TestCsvExporter)
#include "tst_csvexporter.moc"
