#include "csvexporter.h"
#include "projectfile.h"
#include "sampledatabasegenerator.h"
#include "summarybuilder.h"
#include "summarycache.h"
#include "viewerfixture.h"
#include "viewersamplereader.h"
#include "viewersession.h"
#include "viewquery.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace ViewerFixture;

namespace {

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result();
}

SampleDatabaseGenerator::Result generate(const QString& project, int seed, bool index)
{
    SampleDatabaseGenerator::Options options;
    options.projectPath = project;
    options.seconds = 6 * 3600;
    options.end = 1780000000;
    options.nodes = 4;
    options.seed = quint64(seed);
    options.nullRows = 3;
    options.spikes = 3;
    options.index = index;
    return SampleDatabaseGenerator::generate(options);
}

// Every node's whole-period statistics from the summary equal the rows', alarm counts under the
// project's ranges included.
void compareWithRows(const SummaryCache& cache, const QString& project)
{
    const QString database = ProjectFile::databasePath(project);
    QList<ReportDeviceRecord> devices;
    ProjectFile(project).loadReportDevices(&devices);
    for (int n = 0; n < 4; ++n) {
        const QByteArray serial = SampleDatabaseGenerator::serialOf(n).toUtf8();
        const QVector<Row> rows = nodeRows(database, serial);
        QVERIFY(!rows.isEmpty());
        for (int channel = 1; channel <= 2; ++channel) {
            ChannelStats stats;
            cache.read([&](const SampleSummary& s) {
                stats = s.bucketStats(s.findSerial(serial), channel, 0, 1LL << 40);
            });
            const ReportDeviceRecord& d = devices.at(n);
            const Brute b = brute(rows, channel, 0, 1LL << 40, channel == 1 ? d.ch1Min : d.ch2Min,
                                  channel == 1 ? d.ch1Max : d.ch2Max);
            QCOMPARE(stats.count, b.count);
            QCOMPARE(stats.min, b.min);
            QCOMPARE(stats.minTime, b.minTime);
            QCOMPARE(stats.max, b.max);
            QCOMPARE(stats.maxTime, b.maxTime);
            QCOMPARE(stats.outside, b.outside);
            QVERIFY(std::fabs(stats.sum - b.sum) < 1e-6 * std::fabs(b.sum));
        }
    }
}

// Runs statements on a connection of its own, as another program (the sqlite3 program, a
// correction script) does: %M stands for a second in the middle of the recording, %F for the
// first one.
bool runSql(const QString& database, const QStringList& statements, qint64 middle, qint64 first)
{
    bool ok = true;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
        db.setDatabaseName(database);
        ok = db.open();
        for (QString sql : statements) {
            sql.replace(QStringLiteral("%M"), QString::number(middle))
                .replace(QStringLiteral("%F"), QString::number(first));
            QSqlQuery query(db);
            if (ok && !query.exec(sql)) {
                qWarning() << sql << query.lastError().text();
                ok = false;
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("edit"));
    return ok;
}

// A view of [from, to] (coarse and fine columns), its statistics and the CSV export of the same
// seconds agree with the rows.
void compareRange(const SummaryCache& cache, const QString& project, const QByteArray& serial,
                  int channel, qint64 from, qint64 to)
{
    const QString database = ProjectFile::databasePath(project);
    ViewerSampleReader store;
    QVERIFY(store.open(database));
    // The alarm range the project gives the channel, which the summary counts by.
    float low = 0;
    float high = 0;
    QList<ReportDeviceRecord> devices;
    ProjectFile(project).loadReportDevices(&devices);
    for (const ReportDeviceRecord& d : devices) {
        if (d.deviceNumber.toUtf8() == serial) {
            low = channel == 1 ? d.ch1Min : d.ch2Min;
            high = channel == 1 ? d.ch1Max : d.ch2Max;
        }
    }
    const QVector<Row> rows = nodeRows(database, serial);
    const Brute b = brute(rows, channel, from, to + 1, low, high);
    for (int columns : {120, 400}) {
        ViewQuery query(&store, &cache);
        ViewQuery::Request request;
        request.from = double(from);
        request.to = double(to);
        request.columns = columns;
        request.channels = {ViewQuery::Channel{serial, channel, low, high, std::nullopt, 0}};
        const ViewQuery::Series series = query.run(request).series.first();
        QVERIFY(series.complete);
        QCOMPARE(int(series.kind), int(ViewQuery::Series::Columns));
        QCOMPARE(series.stats.count, b.count);
        QCOMPARE(series.stats.min, b.min);
        QCOMPARE(series.stats.minTime, b.minTime);
        QCOMPARE(series.stats.max, b.max);
        QCOMPARE(series.stats.maxTime, b.maxTime);
        QCOMPARE(series.stats.outside, b.outside);
        QVERIFY(std::fabs(series.stats.sum - b.sum) < 1e-6 * std::fabs(b.sum));
        for (const SampleSummary::Column& column : series.columns) {
            const Brute under = brute(rows, channel, column.from, column.to);
            QCOMPARE(column.count == 0, under.count == 0);
            if (under.count > 0) {
                QCOMPARE(column.min, under.min);
                QCOMPARE(column.max, under.max);
            }
        }
    }
    CsvExporter exporter(&store, &cache);
    QBuffer csv;
    QVERIFY(csv.open(QIODevice::WriteOnly));
    QVERIFY(exporter.write({CsvExporter::Column{serial, channel, QStringLiteral("c")}}, from, to,
                           &csv));
    ChannelStats exported;
    const QList<QByteArray> lines = csv.data().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].trimmed().split(',');
        if (cells.size() == 3 && !cells[2].isEmpty())
            exported.add(cells[2].toDouble(), cells[1].toLongLong(),
                         SampleSummary::isOutside(low, high, cells[2].toDouble()));
    }
    QCOMPARE(exported.count, b.count);
    QCOMPARE(exported.min, b.min);
    QCOMPARE(exported.max, b.max);
    QCOMPARE(exported.outside, b.outside);
}

} // namespace

class TestSummaryBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void snapshot_data();
    void snapshot();
    void editsFoundAtTheNextStart_data();
    void editsFoundAtTheNextStart();
    void untouchedWhileAppending();
    void emptyTable();
};

void TestSummaryBuilder::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestSummaryBuilder::snapshot_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reused");
    QTest::newRow("nothing changed") << QString() << true;
    QTest::newRow("another recording under the same name") << "replace" << false;
    QTest::newRow("alarm range edited") << "alarm" << false;
    QTest::newRow("snapshot damaged") << "damage" << false;
    QTest::newRow("snapshot with an impossible count") << "count" << false;
    QTest::newRow("snapshot of the earlier version, which counted values equal to a limit "
                  "outside")
        << "version" << false;
}

// Catches a summary taken from the cache folder that no longer matches the file (another file
// under the same name, other alarm ranges, a broken snapshot, one whose count of items asks for
// gigabytes, one of the earlier version), and one built again although nothing changed.
void TestSummaryBuilder::snapshot()
{
    QFETCH(QString, change);
    QFETCH(bool, reused);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = dir.filePath(QStringLiteral("Cold.tpc"));
    QVERIFY(generate(project, 3, false).ok);
    const QString database = ProjectFile::databasePath(project);
    const std::shared_ptr<SummaryCache> first = buildSummary(project);
    QVERIFY(first);
    QVERIFY(QFile::exists(SummaryBuilder::snapshotPath(database)));

    if (change == QLatin1String("replace")) {
        QVERIFY(generate(project, 4, false).ok);
    } else if (change == QLatin1String("alarm")) {
        QSettings settings(project, QSettings::IniFormat);
        settings.setValue(QStringLiteral("DeviceList"), settings.value(QStringLiteral("DeviceList"))
                                                            .toByteArray()
                                                            .replace("\"30.00\"", "\"28.50\""));
    } else if (change == QLatin1String("damage")) {
        QFile file(SummaryBuilder::snapshotPath(database));
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.resize(file.size() / 2);
    } else if (change == QLatin1String("version")) {
        // The version follows the magic "TSUM", both big-endian.
        QFile file(SummaryBuilder::snapshotPath(database));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const int header = file.readAll().indexOf("TSUM");
        QVERIFY(header >= 0);
        QVERIFY(file.seek(header + 4));
        QVERIFY(file.write(QByteArray::fromHex("00000002")) == 4);
    } else if (change == QLatin1String("count")) {
        // The count of id blocks: after the summary's 73-byte header, the four nodes' serial
        // numbers (length and bytes) with their four alarm limits as doubles, and the count of
        // stale ranges.
        QFile file(SummaryBuilder::snapshotPath(database));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray bytes = file.readAll();
        const int header = bytes.indexOf("TSUM");
        QVERIFY(header > 0);
        QCOMPARE(bytes.mid(header + 73 + 4, 4), QByteArray("GEN-"));
        const int blocks = header + 73 + 4 * (4 + 8 + 4 * 8) + 4;
        QCOMPARE(bytes.mid(blocks - 4, 4), QByteArray(4, '\0'));
        QVERIFY(file.seek(blocks));
        QVERIFY(file.write(QByteArray::fromHex("00000000fffffff0")) == 8);
    }
    auto cache = std::make_shared<SummaryCache>(settingsOf(project));
    SummaryBuilder builder(database, cache);
    QSignalSpy complete(&builder, &SummaryBuilder::complete);
    builder.start();
    if (complete.isEmpty())
        QVERIFY(complete.wait(60000));
    builder.stop();
    QCOMPARE(builder.rowsRead() == 0, reused);
    compareWithRows(*cache, project);
}

void TestSummaryBuilder::editsFoundAtTheNextStart_data()
{
    QTest::addColumn<bool>("indexed");       // the recorder's summary is there to compare with
    QTest::addColumn<QStringList>("before"); // by another program before the first session
    QTest::addColumn<QStringList>("after");  // between the first and the second session

    const QString insert =
        QStringLiteral("insert into quorbinal (serialno, channel1, channel2, pointDate) values ");
    const QString stretch = QStringLiteral("pointDate between %M + 900 and %M + 1199");
    const struct
    {
        const char* name;
        QStringList before;
        QStringList after;
    } cases[] = {
        {"stretch deleted in the middle",
         {},
         {QStringLiteral("delete from quorbinal where pointDate between %M and %M + 1799")}},
        {"stretch corrected in the middle",
         {},
         {QStringLiteral("update quorbinal set channel1 = channel1 + 7.25 where serialno = "
                         "'GEN-0002' and pointDate between %M and %M + 599")}},
        {"row replaced under its id",
         {},
         {QStringLiteral("replace into quorbinal (id, serialno, channel1, channel2, pointDate) "
                         "select id, serialno, channel1 - 30, channel2, pointDate from quorbinal "
                         "where serialno = 'GEN-0002' and pointDate = %M + 100")}},
        {"second repeated by a row added later",
         {},
         {insert + "('GEN-0002', 61.5, 12.25, %M + 200)"}},
        {"row added before the first", {}, {insert + "('GEN-0002', 5.5, 1.25, %F - 3600)"}},
        {"row moved to another node",
         {},
         {QStringLiteral("update quorbinal set serialno = 'GEN-0003' where serialno = 'GEN-0002' "
                         "and pointDate = %M + 300")}},
        {"stretch put back from a backup under its ids, changed",
         {},
         {QStringLiteral("create temp table backup as select * from quorbinal where ") + stretch,
          QStringLiteral("delete from quorbinal where ") + stretch,
          QStringLiteral("insert into quorbinal select id, serialno, channel1 + 1, channel2, "
                         "pointDate from backup")}},
        {"second repeated before the first session",
         {insert + "('GEN-0002', 61.5, 12.25, %M + 200)"},
         {}},
    };
    for (bool indexed : {true, false})
        for (const auto& c : cases)
            // Without the recorder's marks only a serial number of another length is told from
            // the digests (their sums cost no string work per row).
            if (indexed || qstrcmp(c.name, "row moved to another node") != 0)
                QTest::newRow(qPrintable(QString::fromLatin1(c.name) +
                                         (indexed ? QStringLiteral(", recorder's summary")
                                                  : QStringLiteral(", no index"))))
                    << indexed << c.before << c.after;
}

// Catches an earlier session's summary taken although rows were deleted, changed, replaced or
// added with older times since (charts, minimum, maximum, average and time out of range then
// disagree with the CSV export), a summary that counts both rows of a repeated second, and a
// check that reads the whole file again instead of the part that changed.
void TestSummaryBuilder::editsFoundAtTheNextStart()
{
    QFETCH(bool, indexed);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = dir.filePath(QStringLiteral("Edited.tpc"));
    const SampleDatabaseGenerator::Result made = generate(project, 6, indexed);
    QVERIFY(made.ok);
    const QString database = made.databasePath;
    const qint64 middle = made.first + 3 * 3600 + 17;
    QVERIFY(runSql(database, before, middle, made.first));
    const std::shared_ptr<SummaryCache> first = buildSummary(project);
    QVERIFY(first);
    compareWithRows(*first, project);
    QVERIFY(runSql(database, after, middle, made.first));

    auto cache = std::make_shared<SummaryCache>(settingsOf(project));
    SummaryBuilder builder(database, cache);
    QSignalSpy complete(&builder, &SummaryBuilder::complete);
    builder.start();
    if (complete.isEmpty())
        QVERIFY(complete.wait(60000));
    builder.stop();
    QCOMPARE(int(builder.check()),
             int(indexed ? SummaryBuilder::Check::Marks : SummaryBuilder::Check::Digests));
    QVERIFY2(builder.rowsRead() < 10, qPrintable(QString::number(builder.rowsRead())));
    compareWithRows(*cache, project);
    for (const char* serial : {"GEN-0002", "GEN-0003"})
        for (int channel = 1; channel <= 2; ++channel)
            compareRange(*cache, project, QByteArray(serial), channel, middle - 3600,
                         middle + 3600);
}

// Catches a viewer that changes the database while the recorder appends to it (a write, a
// checkpoint, a lock that makes a flush fail), and a summary that falls behind the appended
// rows or counts one twice.
void TestSummaryBuilder::untouchedWhileAppending()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString viewed = dir.filePath(QStringLiteral("viewed/Plant.tpc"));
    const QString alone = dir.filePath(QStringLiteral("alone/Plant.tpc"));
    const SampleDatabaseGenerator::Result made = generate(viewed, 5, true);
    QVERIFY(made.ok);
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("alone"))));
    QVERIFY(QFile::copy(viewed, alone));
    QVERIFY(QFile::copy(made.databasePath, ProjectFile::databasePath(alone)));
    const QStringList arguments{QString::number(made.last + 1), QStringLiteral("30"),
                                QStringLiteral("60")};

    // The same appends with nobody reading: the file as the recorder alone leaves it.
    QProcess reference;
    reference.start(QStringLiteral(APPENDER_PATH),
                    QStringList{ProjectFile::databasePath(alone)} + arguments);
    QVERIFY(reference.waitForReadyRead(60000));
    QCOMPARE(reference.readLine().trimmed(), QByteArray("done"));
    reference.write("close\n");
    QVERIFY(reference.waitForFinished(30000));
    QCOMPARE(reference.exitCode(), 0);

    // The writer keeps its rows in the WAL file until it closes (far fewer than a checkpoint
    // needs), so the database file itself stays as it is until then, unless a reader writes.
    const QByteArray before = fileHash(made.databasePath);
    QProcess appender;
    appender.start(QStringLiteral(APPENDER_PATH), QStringList{made.databasePath} + arguments);
    QVERIFY(appender.waitForStarted());
    QList<ReportDeviceRecord> devices;
    ProjectFile(viewed).loadReportDevices(&devices);
    ViewerSession session(viewed, devices);
    session.setPollInterval(100);
    QSignalSpy ready(&session, &ViewerSession::viewReady);
    session.start();
    QTRY_VERIFY_WITH_TIMEOUT(session.hasPeriod(), 30000);
    // Views of the newest minutes and of everything, and exports, while the rows come in.
    int views = 0;
    while (appender.state() == QProcess::Running && !appender.canReadLine()) {
        ViewQuery::Request request;
        request.id = quint64(++views);
        request.columns = 600;
        request.from = views % 2 ? session.lastTime() - 120 : session.firstTime();
        request.to = session.lastTime();
        request.channels = {ViewQuery::Channel{"GEN-0001", 1, 15, 30, std::nullopt, 0},
                            ViewQuery::Channel{"GEN-0003", 2, 30, 70, std::nullopt, 0}};
        session.requestView(request);
        QVERIFY(ready.wait(10000));
        ViewerSampleReader store;
        QVERIFY(store.open(made.databasePath));
        CsvExporter exporter(&store, session.cache().get());
        QBuffer csv;
        QVERIFY(csv.open(QIODevice::WriteOnly));
        QVERIFY(exporter.write({CsvExporter::Column{"GEN-0002", 1, QStringLiteral("Room 2")}},
                               qint64(session.lastTime()) - 600, qint64(session.lastTime()), &csv));
        appender.waitForReadyRead(50);
    }
    QVERIFY(views >= 5);
    QCOMPARE(appender.readLine().trimmed(), QByteArray("done"));
    // Every appended row reaches the summary once.
    ViewerSampleReader store;
    QVERIFY(store.open(made.databasePath));
    const qint64 maxId = store.maxId();
    store.close();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&]() {
            qint64 high = 0;
            session.cache()->read([&](const SampleSummary& s) { high = s.highId(); });
            return high == maxId;
        }(),
        30000);
    compareWithRows(*session.cache(), viewed);
    // The session learns of the last batch when its signal arrives.
    QTRY_COMPARE_WITH_TIMEOUT(session.lastTime(), made.last + 30 * 30, 10000);
    session.stop();
    QCOMPARE(fileHash(made.databasePath), before);

    appender.write("close\n");
    QVERIFY(appender.waitForFinished(30000));
    QCOMPARE(appender.exitCode(), 0);
    QVERIFY(!QFile::exists(made.databasePath + QStringLiteral("-wal")));
    QCOMPARE(fileHash(made.databasePath), fileHash(ProjectFile::databasePath(alone)));
}

// Catches a viewer that fails or waits forever on a project whose table holds no rows yet, and
// one that does not notice the first rows.
void TestSummaryBuilder::emptyTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = dir.filePath(QStringLiteral("New.tpc"));
    SampleDatabaseGenerator::Options options;
    options.projectPath = project;
    options.seconds = 1;
    options.nodes = 4;
    options.end = 1780000000;
    QVERIFY(SampleDatabaseGenerator::generate(options).ok);
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("empty"));
        db.setDatabaseName(ProjectFile::databasePath(project));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("delete from quorbinal")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("empty"));

    QList<ReportDeviceRecord> devices;
    ProjectFile(project).loadReportDevices(&devices);
    ViewerSession session(project, devices);
    session.setPollInterval(100);
    QSignalSpy complete(&session, &ViewerSession::summaryComplete);
    QSignalSpy opened(&session, &ViewerSession::opened);
    session.start();
    QVERIFY(complete.wait(30000));
    QTRY_COMPARE(opened.size(), 1);
    QVERIFY(opened.first().at(0).toBool());
    QVERIFY(!session.hasPeriod());
    QCOMPARE(session.catalog().channels().size(), 8);

    QProcess appender;
    appender.start(QStringLiteral(APPENDER_PATH),
                   {ProjectFile::databasePath(project), QStringLiteral("1780000100"),
                    QStringLiteral("1"), QStringLiteral("0")});
    QVERIFY(appender.waitForReadyRead(30000));
    appender.write("close\n");
    QVERIFY(appender.waitForFinished(30000));
    QTRY_VERIFY_WITH_TIMEOUT(session.hasPeriod(), 30000);
    QCOMPARE(session.firstTime(), qint64(1780000100));
    QCOMPARE(session.lastTime(), qint64(1780000129));
}

QTEST_GUILESS_MAIN(TestSummaryBuilder)
#include "tst_summarybuilder.moc"
