// The daily backup of a project's database: the copy taken while the writer records, checked,
// kept aside when it fails, the copies the retention no longer keeps deleted, a full disk said
// plainly, and a copy restored beside its project file and verified as the README tells. Runs
// under TZ=Europe/Berlin.
#include "backupjob.h"
#include "backupretention.h"
#include "databasebackup.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "reportfixture.h"
#include "samplerecord.h"
#include "verifycommand.h"
#include "writejob.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>

namespace {

// 2026-12-09 13:00 UTC, 14:00 in Berlin.
constexpr qint64 Q0 = 1796821200 / 900;
const QString Project = QStringLiteral("Cold store");

qint64 startOf(qint64 quarter)
{
    return quarter * 900;
}

qint64 rowsOf(const QString& database)
{
    return DatabasePeek::scalar(database, QStringLiteral("select count(*) from quorbinal"));
}

bool execute(const QString& database, const QString& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(database.toUtf8().constData(), &db);
    sqlite3_busy_timeout(db, 5000);
    const bool ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) ==
                    SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

void queueQuarter(DatabaseWriter* writer, qint64 quarter)
{
    for (qint64 t = startOf(quarter); t < startOf(quarter + 1); t += 10) {
        writer->queueSample({QStringLiteral("N1"), 4.25 + double(t % 7) / 4, 50, quint32(t)});
        writer->queueSample({QStringLiteral("N2"), -18.5, 0, quint32(t + 3)});
    }
}

// A project whose database has `quarters` sealed quarters of two nodes from q0 on.
QString makeProject(const QString& folder, int quarters)
{
    const QString project =
        ReportFixture::writeProject(folder, Project + QStringLiteral(".tpc"),
                                    ReportFixture::nestedDeviceList({"N1", "N2"}), 10000,
                                    QString(), QString());
    DatabaseWriter writer(folder + QLatin1Char('/') + Project + QStringLiteral(".dat"),
                          QUuid::createUuid().toString());
    if (!writer.open())
        return QString();
    for (qint64 q = Q0; q < Q0 + quarters; ++q) {
        queueQuarter(&writer, q);
        writer.submit(WriteJob::sampleSeal(q, (startOf(q + 1) + 60) * 1000));
    }
    return writer.flushAndWait(0) ? project : QString();
}

BackupSettings settingsFor(const QString& folder)
{
    BackupSettings settings;
    settings.folder = folder;
    settings.keepDaily = 2;
    settings.keepMonthly = 1;
    settings.keepYearly = 0;
    return settings;
}

// Copies put into the folder before the run, by date ("2026-12-07"); made of the project's
// own database so that only their names tell them apart.
void placeCopies(const QString& database, const QString& folder, const QStringList& dates)
{
    for (const QString& date : dates)
        QFile::copy(database, folder + QLatin1Char('/') +
                                  BackupRetention::fileName(
                                      Project, QDate::fromString(date, Qt::ISODate)));
}

} // namespace

class TestBackupJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_data();
    void run();
    void whileRecording();
};

void TestBackupJob::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Berlin"));
}

void TestBackupJob::run_data()
{
    QTest::addColumn<QString>("tampering"); // SQL on the project's database before the run
    QTest::addColumn<int>("maxPages");      // the disk full after so many pages (0: never)
    QTest::addColumn<bool>("folderThere");
    QTest::addColumn<QStringList>("before"); // dates of the copies already in the folder
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error"); // how it starts
    QTest::addColumn<bool>("bad");      // a copy kept aside as ".bad"
    QTest::addColumn<QStringList>("left"); // dates of the good copies afterwards

    const QString sealedRow =
        QStringLiteral("(select min(id) from quorbinal where pointDate >= %1)").arg(startOf(Q0 + 1));
    QTest::newRow("a clean project: copied, checked, kept")
        << QString() << 0 << true << QStringList() << true << QString() << false
        << QStringList{"2026-12-09"};
    QTest::newRow("the retention deletes the oldest daily copy, keeps the month's first")
        << QString() << 0 << true << QStringList{"2026-12-01", "2026-12-07", "2026-12-08"}
        << true << QString() << false << QStringList{"2026-12-01", "2026-12-08", "2026-12-09"};
    QTest::newRow("a sealed sample changed: the copy fails --verify, kept aside, none deleted")
        << "update quorbinal set channel1 = channel1 + 0.5 where id = " + sealedRow << 0 << true
        << QStringList{"2026-12-01", "2026-12-07", "2026-12-08"} << false << "verify: " << true
        << QStringList{"2026-12-01", "2026-12-07", "2026-12-08"};
    QTest::newRow("a full disk: said plainly, nothing left behind")
        << QString() << 3 << true << QStringList{"2026-12-08"} << false << "disk full" << false
        << QStringList{"2026-12-08"};
    QTest::newRow("the folder gone (a share not mounted)")
        << QString() << 0 << false << QStringList() << false << "folder " << false << QStringList();
}

void TestBackupJob::run()
{
    QFETCH(QString, tampering);
    QFETCH(int, maxPages);
    QFETCH(bool, folderThere);
    QFETCH(QStringList, before);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    QFETCH(bool, bad);
    QFETCH(QStringList, left);

    QTemporaryDir dir;
    const QString project = makeProject(dir.path(), 4);
    QVERIFY(!project.isEmpty());
    const QString database = dir.filePath(Project + QStringLiteral(".dat"));
    if (!tampering.isEmpty())
        QVERIFY(execute(database, tampering));
    const QString folder = dir.filePath(QStringLiteral("backups"));
    if (folderThere)
        QVERIFY(QDir().mkpath(folder));
    placeCopies(database, folder, before);

    BackupJob::Request request;
    request.projectPath = project;
    request.projectName = Project;
    request.databasePath = database;
    request.settings = settingsFor(folder);
    request.now = QDateTime(QDate(2026, 12, 9), QTime(2, 0));
    if (maxPages > 0)
        qputenv(DatabaseBackup::MaxPagesVariable, QByteArray::number(maxPages));
    const BackupJob::Report report = BackupJob::run(request);
    qunsetenv(DatabaseBackup::MaxPagesVariable);

    QCOMPARE(report.ok, ok);
    QVERIFY2(report.error.startsWith(error), qPrintable(report.error));
    QCOMPARE(report.diskFull, error == QLatin1String("disk full"));
    QCOMPARE(!report.badPath.isEmpty(), bad);
    QCOMPARE(QFile::exists(report.copyPath + BackupJob::badSuffix()), bad);
    QStringList copies;
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QVERIFY2(!name.endsWith(DatabaseBackup::partialSuffix()), qPrintable(name));
        // The copies are single files: their checks leave no log beside them.
        QVERIFY2(!name.endsWith(QLatin1String("-wal")) && !name.endsWith(QLatin1String("-shm")),
                 qPrintable(name));
        const QDate date = BackupRetention::dateOf(Project, name);
        if (date.isValid())
            copies << date.toString(Qt::ISODate);
    }
    QCOMPARE(copies, left);
    QCOMPARE(report.lastGood.isValid(), !left.isEmpty());
    if (ok) {
        QCOMPARE(DatabaseBackup::integrityProblem(report.copyPath), QString());
        QCOMPARE(rowsOf(report.copyPath), rowsOf(database));
    }
}

void TestBackupJob::whileRecording()
{
    // A copy taken while the writer commits a flush every 100 ms: no flush waits for the copy
    // (each is in the file before the next), the copy holds what was committed when it began,
    // and restored beside its project file it verifies.
    QTemporaryDir dir;
    const QString project = makeProject(dir.path(), 40); // 40 quarters, 14400 rows, sealed
    QVERIFY(!project.isEmpty());
    const QString database = dir.filePath(Project + QStringLiteral(".dat"));
    const QString folder = dir.filePath(QStringLiteral("backups"));
    QVERIFY(QDir().mkpath(folder));
    // Weight for the copy: rows of another node before sealing began, about 20 MB.
    QVERIFY(execute(database,
                    QStringLiteral("with recursive t(x) as (select 0 union all select x + 1 "
                                   "from t where x < 300000) insert into quorbinal (serialno, "
                                   "channel1, channel2, pointDate) select 'N9', x % 50, 1.5, "
                                   "%1 - 300001 + x from t")
                        .arg(startOf(Q0))));
    const qint64 rowsBefore = rowsOf(database);

    DatabaseWriter writer(database, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    QElapsedTimer clock;
    qint64 flushStarted = -1;
    qint64 longestFlushMs = 0;
    int flushes = 0;
    connect(&writer, &DatabaseWriter::flushed, this, [&](bool) {
        longestFlushMs = qMax(longestFlushMs, clock.elapsed() - flushStarted);
        flushStarted = -1;
        ++flushes;
    });
    QTimer recording;
    quint32 t = quint32(startOf(Q0 + 40));
    connect(&recording, &QTimer::timeout, this, [&] {
        if (flushStarted >= 0)
            return; // the flush before is still on its way: counted when it answers
        writer.queueSample({QStringLiteral("N1"), 5.0, 50, t});
        writer.queueSample({QStringLiteral("N2"), -18.0, 0, t});
        ++t;
        flushStarted = clock.elapsed();
        writer.flush(qint64(t) * 1000);
    });
    clock.start();
    recording.start(100);

    BackupJob::Request request;
    request.projectPath = project;
    request.projectName = Project;
    request.databasePath = database;
    request.settings = settingsFor(folder);
    request.now = QDateTime::fromSecsSinceEpoch(startOf(Q0 + 41));
    BackupJob::Report report;
    std::atomic<bool> done{false};
    std::unique_ptr<QThread> job(QThread::create([&] {
        report = BackupJob::run(request);
        done = true;
    }));
    QTest::qWait(300);
    const int flushesBefore = flushes;
    longestFlushMs = 0;
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    job->wait();
    const qint64 longestDuringBackup = longestFlushMs;
    const int flushesDuring = flushes - flushesBefore;
    recording.stop();
    QVERIFY(writer.flushAndWait(qint64(t) * 1000));
    qInfo("backup: copy %lld ms, checks %lld ms; %d flushes meanwhile, the longest %lld ms",
          report.copyMs, report.checkMs, flushesDuring, longestDuringBackup);
    QVERIFY2(report.ok, qPrintable(report.error));
    QVERIFY(flushesDuring > 0);
    // One flush interval of the recorder at 1 s: no sample waits beyond its flush.
    QVERIFY2(longestDuringBackup < 1000, qPrintable(QString::number(longestDuringBackup)));
    const qint64 copied = rowsOf(report.copyPath);
    QVERIFY(copied >= rowsBefore && copied <= rowsOf(database));

    // The restore of the README: the recorder stopped, the copy put in place of the database
    // beside its project file, and --verify run on it.
    QDir restored(dir.filePath(QStringLiteral("restored")));
    QVERIFY(restored.mkpath(QStringLiteral(".")));
    QVERIFY(QFile::copy(project, restored.filePath(Project + QStringLiteral(".tpc"))));
    QVERIFY(QFile::copy(report.copyPath, restored.filePath(Project + QStringLiteral(".dat"))));
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    QCOMPARE(VerifyCommand::run(restored.filePath(Project + QStringLiteral(".tpc")), QString(),
                                outStream, errStream, startOf(Q0 + 41)),
             0);
    QVERIFY2(out.contains(QLatin1String("Result: everything holds")), qPrintable(out));
    QCOMPARE(rowsOf(restored.filePath(Project + QStringLiteral(".dat"))), copied);
}

QTEST_GUILESS_MAIN(TestBackupJob)
#include "tst_backupjob.moc"
