#include "alarmeventtable.h"
#include "auditentry.h"
#include "auditlookup.h"
#include "databasewriter.h"
#include "flushpolicy.h"
#include "indexbuilder.h"
#include "insertserialdata.h"
#include "outboxtable.h"
#include "projectfilecopy.h"
#include "samplereader.h"
#include "sampletable.h"
#include "spilljournal.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QtTest>

#include <memory>

#include <sqlite3.h>

namespace {

// The rows as "serial channel1 pointDate" in the order they were stored.
QStringList storedRows(const QString& path)
{
    QStringList rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral(
                             "select serialno, channel1, pointDate from quorbinal order by id")))
            while (q.next())
                rows << QStringLiteral("%1 %2 %3")
                            .arg(q.value(0).toString(), q.value(1).toString(),
                                 q.value(2).toString());
        else
            QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + db.lastError().text() +
                                    q.lastError().text()),
                         __FILE__, __LINE__);
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// Another program holding the write lock while it lives.
class LockHolder
{
public:
    explicit LockHolder(const QString& path) : name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        locked = db.open() && QSqlQuery(db).exec(QStringLiteral("begin immediate"));
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (!QSqlDatabase::contains(name))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool locked = false;

private:
    QString name;
};

SampleRecord sample(int second)
{
    // Values rise with time: the rows of one multi-row insert come out in their order too.
    return {QStringLiteral("W1"), 10.0 + second, 50, quint32(1700000000 + second)};
}

QString row(int second)
{
    return QStringLiteral("W1 %1 %2").arg(10 + second).arg(1700000000 + second);
}

} // namespace

// The recorder's one writer on its own thread: order, the journal when the file cannot be
// written in time, the end of the program under a lock held elsewhere, a kill during a build.
class TestDatabaseWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void jobsInOrderWithSamples();
    void lockedLongerThanThePolicy_data();
    void lockedLongerThanThePolicy();
    void endUnderLock_data();
    void endUnderLock();
    void killedDuringBuild_data();
    void killedDuringBuild();
    void alarmAndOutboxWritesKept_data();
    void alarmAndOutboxWritesKept();
    void secureKeepsWhatCameBefore_data();
    void secureKeepsWhatCameBefore();

private:
    std::unique_ptr<DatabaseWriter> openWriter();
    QString journal() const { return SpillJournal::pathFor(database); }

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
};

void TestDatabaseWriter::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    database = dir->filePath(QStringLiteral("writer.dat"));
}

void TestDatabaseWriter::cleanup()
{
    dir.reset();
}

std::unique_ptr<DatabaseWriter> TestDatabaseWriter::openWriter()
{
    auto writer = std::make_unique<DatabaseWriter>(database, QUuid::createUuid().toString());
    return writer->open() ? std::move(writer) : nullptr;
}

// Catches: a job lost, run out of order with another of its kind, or never answered.
void TestDatabaseWriter::jobsInOrderWithSamples()
{
    auto writer = openWriter();
    QVERIFY(writer);
    QSignalSpy stored(writer.get(), &DatabaseWriter::jobStored);
    writer->queueSample(sample(1));
    const quint64 first = writer->submit(WriteJob::forwardPosition(QStringLiteral("mqtt"), 41));
    writer->queueSample(sample(2));
    const quint64 second = writer->submit(WriteJob::forwardPosition(QStringLiteral("mqtt"), 42));
    QVERIFY(writer->flushAndWait(0));
    QCOMPARE(storedRows(database), (QStringList{row(1), row(2)}));
    QTRY_COMPARE(stored.size(), 2);
    QCOMPARE(stored.at(0).at(0).toULongLong(), first);
    QCOMPARE(stored.at(1).at(0).toULongLong(), second);
    writer.reset();
    InsertSerialData reader(database, QUuid::createUuid().toString());
    QVERIFY(reader.createConnection());
    qint64 position = 0;
    QVERIFY(reader.stateValue(WriteJob::forwardPositionName(QStringLiteral("mqtt")), &position));
    QCOMPARE(position, 42);
}

void TestDatabaseWriter::secureKeepsWhatCameBefore_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("journalWritable");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("inJournal");
    QTest::newRow("file writable") << false << true << true << 0;
    QTest::newRow("file locked: kept in the journal at once") << true << true << true << 1;
    QTest::newRow("file locked, journal refused") << true << false << false << 0;
}

// Catches: a change let take effect while its record is only in memory (a crash would lose
// the record and keep the change), the journal waiting for the flush policy's time, or a
// failure answered as kept.
void TestDatabaseWriter::secureKeepsWhatCameBefore()
{
    QFETCH(bool, locked);
    QFETCH(bool, journalWritable);
    QFETCH(bool, kept);
    QFETCH(int, inJournal);
    if (!journalWritable)
        QVERIFY(QDir().mkpath(journal()));
    auto writer = openWriter();
    QVERIFY(writer);
    std::unique_ptr<LockHolder> holder;
    if (locked) {
        holder = std::make_unique<LockHolder>(database);
        QVERIFY(holder->locked);
    }
    QSignalSpy secured(writer.get(), &DatabaseWriter::secured);
    writer->queueSample(sample(1));
    writer->submit(WriteJob::forwardPosition(QStringLiteral("mqtt"), 7));
    const quint64 request = writer->secure(0);
    QVERIFY(secured.wait(20000));
    QCOMPARE(secured.at(0).at(0).toULongLong(), request);
    QCOMPARE(secured.at(0).at(1).toBool(), kept);
    QTRY_COMPARE(writer->status().journalSamples, qint64(inJournal));
    QCOMPARE(QFileInfo(journal()).isFile(), journalWritable && locked);
    QCOMPARE(writer->pendingCount(), locked ? 1 : 0);
    QCOMPARE(writer->status().waitingJobs, locked ? 1 : 0);
    holder.reset();
    QVERIFY(writer->flushAndWait(FlushPolicy::TickMs));
    QCOMPARE(storedRows(database), QStringList{row(1)});
}

void TestDatabaseWriter::lockedLongerThanThePolicy_data()
{
    QTest::addColumn<bool>("journalWritable");
    QTest::newRow("journal written") << true;
    QTest::newRow("journal refused (a full disk)") << false;
}

// Catches: samples kept in memory only while the file stays locked beyond the flush policy's
// time (a crash would lose them all), or written to the journal before that time; a journal
// that cannot be written losing them; the journal's samples replayed after newer ones, twice,
// or left behind.
void TestDatabaseWriter::lockedLongerThanThePolicy()
{
    QFETCH(bool, journalWritable);
    if (!journalWritable)
        QVERIFY(QDir().mkpath(journal()));
    auto writer = openWriter();
    QVERIFY(writer);
    auto holder = std::make_unique<LockHolder>(database);
    QVERIFY(holder->locked);
    QStringList expected;
    int second = 0;
    auto record = [&](int count) {
        for (int i = 0; i < count; ++i, ++second) {
            writer->queueSample(sample(second));
            expected << row(second);
        }
    };
    record(FlushPolicy::SingleGatewayBatch);
    writer->tick(0);
    QTRY_VERIFY(writer->status().failing);
    record(3);
    writer->tick(FlushPolicy::MaxAgeMs / 2);
    QTRY_COMPARE(writer->status().waitingSamples, 11);
    QCOMPARE(writer->status().journalSamples, 0);
    QVERIFY(!QFileInfo(journal()).isFile());

    writer->tick(FlushPolicy::MaxAgeMs);
    if (journalWritable) {
        QTRY_COMPARE(writer->status().journalSamples, 11);
        QVERIFY(QFileInfo(journal()).isFile());
    } else {
        QTRY_VERIFY(writer->status().journalFailing);
        QCOMPARE(writer->status().journalSamples, 0);
    }
    QCOMPARE(writer->pendingCount(), 11);

    record(2);
    holder.reset();
    QVERIFY(writer->flushAndWait(FlushPolicy::MaxAgeMs + FlushPolicy::TickMs));
    QCOMPARE(writer->pendingCount(), 0);
    QVERIFY(!writer->status().failing);
    QCOMPARE(storedRows(database), expected);
    QCOMPARE(QFileInfo(journal()).isFile(), false);
}

void TestDatabaseWriter::endUnderLock_data()
{
    QTest::addColumn<int>("releaseAfterMs"); // -1: only after the end
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<bool>("viaShutdown"); // or the writer is simply destroyed
    QTest::addColumn<int>("kept");
    QTest::newRow("lock gone within the grace") << 1200 << 20000 << true << 0;
    QTest::newRow("lock outlasts the grace") << -1 << 800 << true << 10;
    QTest::newRow("writer destroyed under the lock") << -1 << 0 << false << 10;
}

// Catches: the end of the program giving up after a few quick attempts (before, three attempts
// of 200 ms lost everything behind a lock held for longer), waiting on the caller's thread,
// samples kept nowhere when the lock outlasts the grace, or written twice after the next start.
void TestDatabaseWriter::endUnderLock()
{
    QFETCH(int, releaseAfterMs);
    QFETCH(int, graceMs);
    QFETCH(bool, viaShutdown);
    QFETCH(int, kept);
    QStringList expected;
    {
        auto writer = openWriter();
        QVERIFY(writer);
        auto holder = std::make_unique<LockHolder>(database);
        QVERIFY(holder->locked);
        for (int second = 0; second < 10; ++second) {
            writer->queueSample(sample(second));
            expected << row(second);
        }
        if (releaseAfterMs >= 0)
            QTimer::singleShot(releaseAfterMs, writer.get(), [&holder] { holder.reset(); });
        if (viaShutdown) {
            QSignalSpy ended(writer.get(), &DatabaseWriter::shutDown);
            QElapsedTimer call;
            call.start();
            writer->shutdown(graceMs);
            QVERIFY2(call.elapsed() < 100, qPrintable(QString::number(call.elapsed())));
            QVERIFY(ended.wait(graceMs + 5000));
            QCOMPARE(ended.at(0).at(0).toLongLong(), qint64(kept));
            QCOMPARE(ended.at(0).at(1).toLongLong(), 0);
        }
        writer.reset();
        QCOMPARE(QFileInfo(journal()).isFile(), kept > 0);
        QCOMPARE(storedRows(database).size(), 10 - kept);
    }
    // The next start stores what the journal kept, once.
    for (int start = 0; start < 2; ++start) {
        auto writer = openWriter();
        QVERIFY(writer);
        QTRY_COMPARE(writer->pendingCount(), 0);
    }
    QCOMPARE(storedRows(database), expected);
    QVERIFY(!QFileInfo(journal()).exists());
}

void TestDatabaseWriter::killedDuringBuild_data()
{
    QTest::addColumn<int>("seconds"); // of 16 nodes at 1 s before the kill
    QTest::newRow("killed 20 s into the build") << 20;
    QTest::newRow("killed 80 s into the build, past the policy's time") << 80;
}

// Catches: samples recorded during an index build lost when the program is killed in it (the
// build holds the write lock for seconds on a week of samples, minutes on a month): before,
// they waited in memory for the flush policy's minute, so a kill 20 s into the build kept none
// of them; now every sample polled more than one batch (2 s at 1 s) before the kill is in the
// journal. Also the journal not replayed at the next start, or a sample written twice.
void TestDatabaseWriter::killedDuringBuild()
{
    QFETCH(int, seconds);
    {
        // An earlier recorder's file: the table alone, for the build to index.
        InsertSerialData maker(database, QUuid::createUuid().toString());
        QVERIFY(maker.createConnection());
    }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(database);
        QSqlQuery q(db);
        QVERIFY(db.open());
        for (const QString& name : SampleTable::triggerNames())
            QVERIFY(q.exec(QStringLiteral("drop trigger ") + name));
        QVERIFY(q.exec(QStringLiteral("drop index ") + SampleTable::indexName()));
        QVERIFY(q.exec(QStringLiteral(
            "with recursive s(x) as (select 0 union all select x + 1 from s where x < 199999) "
            "insert into quorbinal (serialno, channel1, channel2, pointDate) select 'OLD', x % 50, "
            "null, 1600000000 + x from s")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));

    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Slow enough that the build outlasts the helper's samples by far.
    env.insert(QLatin1String(IndexBuilder::PauseVariable), QStringLiteral("200000"));
    helper.setProcessEnvironment(env);
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(WRITER_HELPER), {database, QString::number(seconds)});
    QVERIFY(helper.waitForStarted(10000));
    // The kill comes after the last second's samples: those of every second more than 2 s
    // before it must be in the journal.
    const int kept = seconds - 2;
    const qint64 spilledAtLeast = 16 * kept;
    qint64 journaled = 0;
    auto readJournaled = [&] {
        while (helper.canReadLine()) {
            const QByteArray line = helper.readLine().trimmed();
            if (line.startsWith("journaled "))
                journaled = line.mid(10).toLongLong();
        }
        return journaled >= spilledAtLeast;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(
        readJournaled(),
        qPrintable(QStringLiteral("journaled %1 of %2").arg(journaled).arg(spilledAtLeast)), 30000);
    QCOMPARE(helper.state(), QProcess::Running);
    helper.kill();
    QVERIFY(helper.waitForFinished(10000));
    QVERIFY(QFileInfo(journal()).isFile());

    // The next start builds the index again and then stores what the journal kept, once.
    auto writer = openWriter();
    QVERIFY(writer);
    QVERIFY(writer->isBuilding());
    QTRY_VERIFY_WITH_TIMEOUT(writer->pendingCount() == 0 && !writer->isBuilding(), 120000);
    const QStringList rows = storedRows(database).filter(QRegularExpression(QStringLiteral("^K")));
    QVERIFY2(rows.size() >= journaled, qPrintable(QString::number(rows.size())));
    QCOMPARE(QSet<QString>(rows.begin(), rows.end()).size(), rows.size());
    for (int second = 0; second < kept; ++second) {
        for (int node = 0; node < 16; ++node)
            QVERIFY2(rows.contains(QStringLiteral("K%1 %2 %3")
                                       .arg(node, 2, 10, QLatin1Char('0'))
                                       .arg(20 + second)
                                       .arg(1700000000 + second)),
                     qPrintable(QStringLiteral("node %1, second %2").arg(node).arg(second)));
    }
    QVERIFY(!QFileInfo(journal()).exists());
}

void TestDatabaseWriter::alarmAndOutboxWritesKept_data()
{
    QTest::addColumn<bool>("locked"); // the file locked elsewhere until the writer is gone
    QTest::newRow("file free") << false;
    QTest::newRow("file locked: journal, next start") << true;
}

// Catches: an alarm event or outbox write lost on its way through the writer's journal, changed
// by it (an optional value, a text), applied out of order, or twice (a second message row, an
// acknowledgement replaced) when the journal is replayed; a project file's copy kept with its
// audit entry lost or changed on the way (bytes that are not text).
void TestDatabaseWriter::alarmAndOutboxWritesKept()
{
    QFETCH(bool, locked);
    AlarmEventRecord event;
    event.id = 7;
    event.serial = QStringLiteral("W1");
    event.channel = 2;
    event.kind = AlarmKind::Low;
    event.limit = -18.5;
    event.start = 1700000000;
    event.raised = 1700000060;
    event.continues = 3;
    OutboxRecord message;
    message.messageId = QStringLiteral("alarm.7.start");
    message.eventId = 7;
    message.kind = QStringLiteral("start");
    message.target = QStringLiteral("email");
    message.body = QStringLiteral("{\"node\":\"Kühlraum\"}");
    message.created = 1700000060;
    message.nextAttemptMs = 1700000060000;
    // A reminder that waited while the alarm ended, and a message sent long ago.
    OutboxRecord reminder = message;
    reminder.messageId = QStringLiteral("alarm.7.reminder.1");
    reminder.kind = QStringLiteral("reminder");
    OutboxRecord old = message;
    old.messageId = QStringLiteral("alarm.6.start");
    old.eventId = 6;
    // A report with its PDF (bytes that are not text), sent after the prune.
    OutboxRecord report = message;
    report.messageId = QStringLiteral("report.monthly.2023-10");
    report.kind = QStringLiteral("report");
    report.attachmentName = QStringLiteral("monthly.pdf");
    report.attachment = QByteArray("%PDF-1.4\n\0\xff\xfe\r\n%%EOF", 19);
    const QByteArray projectText("[General]\nname=K\xc3\xbchlraum\n\0\xff tail", 30);
    {
        auto writer = openWriter();
        QVERIFY(writer);
        std::unique_ptr<LockHolder> holder;
        if (locked) {
            holder = std::make_unique<LockHolder>(database);
            QVERIFY(holder->locked);
        }
        writer->submit(WriteJob::alarmEvent(AlarmEventWrite::insert(event)));
        writer->submit(WriteJob::outboxAdd(message));
        writer->submit(WriteJob::outboxAttempt(message.messageId, message.target, 1, 1700000070000,
                                               QStringLiteral("421 busy")));
        writer->submit(WriteJob::alarmEvent(
            AlarmEventWrite::close(7, 1700000300, AlarmEnd::Cleared, -20.25, 1700000200)));
        writer->submit(WriteJob::alarmEvent(
            AlarmEventWrite::acknowledge(7, 1700000400, QStringLiteral("Ana"), QString())));
        writer->submit(WriteJob::alarmEvent(
            AlarmEventWrite::acknowledge(7, 1700000500, QStringLiteral("Bo"), QString())));
        writer->submit(WriteJob::outboxAdd(message));
        writer->submit(WriteJob::outboxSent(message.messageId, message.target, 1700000080));
        writer->submit(WriteJob::outboxAdd(reminder));
        writer->submit(WriteJob::outboxSuperseded(reminder.messageId, reminder.target, 1700000310));
        writer->submit(WriteJob::outboxAdd(old));
        writer->submit(WriteJob::outboxSent(old.messageId, old.target, 1700000070));
        writer->submit(WriteJob::outboxPrune(1700000075));
        writer->submit(WriteJob::outboxAdd(report));
        writer->submit(WriteJob::outboxSent(report.messageId, report.target, 1700000090));
        AuditEntry kept;
        kept.timeMs = 1700000500000;
        kept.user = QStringLiteral("recorder");
        kept.action = ProjectFileCopy::keptAction();
        kept.object = QStringLiteral("project file");
        kept.newValue = ProjectFileCopy::describe(projectText);
        writer->submit(WriteJob::auditRecord(kept, projectText));
        if (!locked)
            QVERIFY(writer->flushAndWait(0));
        writer.reset();
        QCOMPARE(QFileInfo(journal()).isFile(), locked);
    }
    if (locked) {
        for (int start = 0; start < 2; ++start) {
            auto writer = openWriter();
            QVERIFY(writer);
            QTRY_COMPARE(writer->status().waitingJobs, 0);
        }
    }
    SqliteConnection connection;
    QVERIFY(connection.open(database, SQLITE_OPEN_READONLY));
    QVector<AlarmEventRecord> events;
    QString error;
    QVERIFY2(AlarmEventTable::list(connection.get(), AlarmEventFilter(), &events, &error),
             qPrintable(error));
    QCOMPARE(events.size(), 1);
    const AlarmEventRecord& e = events.at(0);
    QCOMPARE(e.serial, event.serial);
    QCOMPARE(e.channel, 2);
    QCOMPARE(e.kind, AlarmKind::Low);
    QCOMPARE(e.limit, std::optional<double>(-18.5));
    QCOMPARE(e.end, std::optional<qint64>(1700000300));
    QCOMPARE(e.ended, AlarmEnd::Cleared);
    QCOMPARE(e.extremeValue, std::optional<double>(-20.25));
    QCOMPARE(e.acknowledgedBy, QStringLiteral("Ana"));
    QVector<OutboxRecord> outbox;
    QVERIFY2(OutboxTable::all(connection.get(), &outbox, &error), qPrintable(error));
    QCOMPARE(outbox.size(), 4);
    QCOMPARE(outbox.at(0).body, message.body);
    QCOMPARE(outbox.at(0).attempts, 2);
    QCOMPARE(outbox.at(0).lastError, QStringLiteral("421 busy"));
    QCOMPARE(outbox.at(0).sentAt, std::optional<qint64>(1700000080));
    QVERIFY(!outbox.at(0).isSuperseded());
    // Superseded: neither sent nor waiting.
    QCOMPARE(outbox.at(1).supersededAt, std::optional<qint64>(1700000310));
    QVERIFY(!outbox.at(1).sentAt);
    // Past the retention: only the text is gone.
    QCOMPARE(outbox.at(2).messageId, old.messageId);
    QCOMPARE(outbox.at(2).eventId, 6);
    QCOMPARE(outbox.at(2).sentAt, std::optional<qint64>(1700000070));
    QVERIFY(outbox.at(2).body.isEmpty());
    QCOMPARE(outbox.at(3).attachmentName, report.attachmentName);
    QCOMPARE(outbox.at(3).attachment, report.attachment);
    QVERIFY(outbox.at(0).attachment.isNull());
    std::optional<AuditEntry> keptEntry;
    QVERIFY2(AuditLookup::latest(database, {ProjectFileCopy::keptAction()},
                                 std::numeric_limits<qint64>::max(), &keptEntry, &error),
             qPrintable(error));
    QVERIFY(keptEntry);
    QCOMPARE(keptEntry->newValue, ProjectFileCopy::describe(projectText));
    std::optional<QByteArray> copy;
    QVERIFY2(ProjectFileCopy::read(database, keptEntry->sequence, &copy, &error),
             qPrintable(error));
    QCOMPARE(copy, std::optional<QByteArray>(projectText));
    SqliteStatement continues(connection.get(), "select continuesId from alarm_event where id = 7");
    QVERIFY(continues.isValid() && sqlite3_step(continues.get()) == SQLITE_ROW);
    QCOMPARE(sqlite3_column_int64(continues.get(), 0), 3);
    QVERIFY2(OutboxTable::unsent(connection.get(), &outbox, &error), qPrintable(error));
    QVERIFY(outbox.isEmpty());
}

QTEST_GUILESS_MAIN(TestDatabaseWriter)
#include "tst_databasewriter.moc"
