#include "insertserialdata.h"
#include "novalue.h"
#include "outboxtable.h"
#include "spilljournal.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

std::deque<WriteEntry> samples(const QString& serial, int count, quint32 first)
{
    std::deque<WriteEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(WriteEntry::ofSample(
            {serial, i % 5 == 0 ? NoValue : 20 + i * 0.25, 40.0 + i, first + quint32(i)}));
    return entries;
}

// The rows of the file as "serial channel1 channel2 pointDate", NULL as "-", in time order
// (SQLite numbers the rows of one multi-row insert in an order of its own).
QStringList rows(const QString& path)
{
    QStringList result;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("select serialno, channel1, channel2, pointDate "
                                               "from quorbinal order by pointDate, serialno")))
            while (q.next())
                result << QStringList{q.value(0).toString(),
                                      q.value(1).isNull() ? QStringLiteral("-")
                                                          : q.value(1).toString(),
                                      q.value(2).toString(), q.value(3).toString()}
                              .join(QLatin1Char(' '));
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

QStringList expectedRows(std::deque<WriteEntry> entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const WriteEntry& a, const WriteEntry& b) {
        return a.sample.pointDate != b.sample.pointDate
                   ? a.sample.pointDate < b.sample.pointDate
                   : a.sample.deviceNumber < b.sample.deviceNumber;
    });
    QStringList result;
    for (const WriteEntry& e : entries) {
        if (e.isJob)
            continue;
        const SampleRecord& s = e.sample;
        result << QStringList{s.deviceNumber,
                              s.channel1 == NoValue ? QStringLiteral("-")
                                                    : QString::number(s.channel1),
                              QString::number(s.channel2), QString::number(s.pointDate)}
                      .join(QLatin1Char(' '));
    }
    return result;
}

} // namespace

// The spill journal on small files: what goes in comes out once, in order, whatever the file
// went through.
class TestSpillJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTrip();
    void damagedFile_data();
    void damagedFile();
    void replayedOnceAcrossCrashes();
    void unwritableJournalKeepsNothing();
    void largeJobsInOneAppend();

private:
    std::unique_ptr<InsertSerialData> openWriter();
    QString journalPath() const { return SpillJournal::pathFor(database); }

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
};

void TestSpillJournal::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    database = dir->filePath(QStringLiteral("spill.dat"));
}

void TestSpillJournal::cleanup()
{
    dir.reset();
}

std::unique_ptr<InsertSerialData> TestSpillJournal::openWriter()
{
    auto writer = std::make_unique<InsertSerialData>(database, QUuid::createUuid().toString());
    return writer->createConnection() ? std::move(writer) : nullptr;
}

// Catches: values, names or times changed on their way through the file (the no-value marker,
// a name beyond ASCII, a job's values), entries reordered across records or appends, a replay
// without its position, a file left behind after everything was stored.
void TestSpillJournal::roundTrip()
{
    std::deque<WriteEntry> entries = samples(QStringLiteral("Kühl-1"), 5000, 1700000000);
    entries.push_back(
        WriteEntry::ofJob(WriteJob::forwardPosition(QStringLiteral("influx"), 77), 0x500000007ull));
    const std::deque<WriteEntry> more = samples(QStringLiteral("N2"), 10, 1700009000);
    {
        SpillJournal journal(journalPath());
        QString error;
        QVERIFY2(journal.load(&error), qPrintable(error));
        QVERIFY(!journal.hasRecords());
        QVERIFY2(journal.append(entries, entries.size(), &error), qPrintable(error));
        QVERIFY2(journal.append(more, more.size(), &error), qPrintable(error));
    }
    SpillJournal journal(journalPath());
    QString error;
    QVERIFY2(journal.load(&error), qPrintable(error));
    qint64 sampleCount = 0;
    qint64 jobCount = 0;
    journal.count(0, &sampleCount, &jobCount);
    QCOMPARE(sampleCount, 5010);
    QCOMPARE(jobCount, 1);

    auto writer = openWriter();
    QVERIFY(writer);
    SpillJournal::Replayed replayed;
    QVERIFY2(journal.replayInto(writer.get(), 100000, &replayed, &error), qPrintable(error));
    QCOMPARE(replayed.samples, 5010);
    QCOMPARE(replayed.jobs, 1);
    QCOMPARE(replayed.tickets.size(), size_t(1));
    QCOMPARE(replayed.tickets.front().first, 0x500000007ull);
    QVERIFY(!QFile::exists(journalPath()));
    std::deque<WriteEntry> all = entries;
    all.insert(all.end(), more.begin(), more.end());
    QCOMPARE(rows(database), expectedRows(all));
    qint64 position = 0;
    QVERIFY(writer->stateValue(WriteJob::forwardPositionName(QStringLiteral("influx")), &position));
    QCOMPARE(position, 77);
}

void TestSpillJournal::damagedFile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("replayed");   // of three records of 10 samples
    QTest::addColumn<bool>("keptAside"); // a copy of the damaged file for a person
    QTest::addColumn<bool>("readable");
    QTest::newRow("torn: the last record cut short") << "cut" << 20 << false << true;
    QTest::newRow("torn: the last record's checksum") << "last" << 20 << false << true;
    QTest::newRow("a record's checksum before the end") << "middle" << 10 << true << true;
    QTest::newRow("a version this program does not know") << "version" << 0 << false << false;
}

// Catches: a record cut short by a crash replayed or stopping what follows; a damaged record
// replayed, or the records after it read at a wrong offset; damage thrown away without a copy;
// appends after a torn record lost behind it; a journal of another version misread.
void TestSpillJournal::damagedFile()
{
    QFETCH(QString, damage);
    QFETCH(int, replayed);
    QFETCH(bool, keptAside);
    QFETCH(bool, readable);
    qint64 recordSize = 0;
    {
        SpillJournal journal(journalPath());
        QString error;
        QVERIFY(journal.load(&error));
        for (int r = 0; r < 3; ++r) {
            const qint64 before = QFileInfo(journalPath()).size();
            const auto entries = samples(QStringLiteral("N%1").arg(r), 10, quint32(1000 + 100 * r));
            QVERIFY(journal.append(entries, entries.size(), &error));
            recordSize =
                QFileInfo(journalPath()).size() - (before ? before : SpillJournal::HeaderSize);
        }
    }
    QFile file(journalPath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    auto flip = [&file](qint64 at) {
        file.seek(at);
        char c = 0;
        file.getChar(&c);
        file.seek(at);
        file.putChar(char(c ^ 0x5a));
    };
    if (damage == QLatin1String("cut"))
        file.resize(size - recordSize / 2);
    else if (damage == QLatin1String("last"))
        flip(size - 20);
    else if (damage == QLatin1String("middle"))
        flip(SpillJournal::HeaderSize + recordSize + recordSize / 2);
    else
        flip(8);
    file.close();

    SpillJournal journal(journalPath());
    QString error;
    QCOMPARE(journal.load(&error), readable);
    if (readable) {
        // What comes now follows the last whole record.
        const auto later = samples(QStringLiteral("LATE"), 3, 5000);
        QVERIFY2(journal.append(later, later.size(), &error), qPrintable(error));
    }
    auto writer = openWriter();
    QVERIFY(writer);
    SpillJournal::Replayed done;
    QVERIFY2(journal.replayInto(writer.get(), 100000, &done, &error), qPrintable(error));
    const int late = readable ? 3 : 0;
    QCOMPARE(done.samples, qint64(replayed + late));
    QCOMPARE(rows(database).size(), replayed + late);
    if (readable)
        QVERIFY(rows(database).last().startsWith(QLatin1String("LATE ")));
    QCOMPARE(QDir(dir->path())
                 .entryList({QStringLiteral("spill.dat-pending.damaged-*")}, QDir::Files)
                 .size(),
             keptAside ? 1 : 0);
    // A journal this program cannot read stays for a later one.
    QCOMPARE(QFile::exists(journalPath()), !readable);
}

// Catches: rows written twice when the program dies in the middle of a replay, or after its
// last commit and before the file went; entries appended to such a file lost or replayed with
// the old ones again.
void TestSpillJournal::replayedOnceAcrossCrashes()
{
    const QString copy = journalPath() + QStringLiteral(".copy");
    std::deque<WriteEntry> all;
    {
        SpillJournal journal(journalPath());
        QString error;
        QVERIFY(journal.load(&error));
        for (int r = 0; r < 3; ++r) {
            const auto entries =
                samples(QStringLiteral("N%1").arg(r), 3000, quint32(10000 * (r + 1)));
            QVERIFY(journal.append(entries, entries.size(), &error));
            all.insert(all.end(), entries.begin(), entries.end());
        }
    }
    QVERIFY(QFile::copy(journalPath(), copy));
    auto writer = openWriter();
    QVERIFY(writer);
    QString error;
    {
        // The first record only: then the program dies.
        SpillJournal journal(journalPath());
        QVERIFY(journal.load(&error));
        SpillJournal::Replayed done;
        QVERIFY(journal.replayInto(writer.get(), 1, &done, &error));
        QCOMPARE(done.samples, 3000);
        QVERIFY(QFile::exists(journalPath()));
    }
    {
        SpillJournal journal(journalPath());
        QVERIFY(journal.load(&error));
        SpillJournal::Replayed done;
        QVERIFY(journal.replayInto(writer.get(), 100000, &done, &error));
        QCOMPARE(done.samples, 6000);
        QVERIFY(!QFile::exists(journalPath()));
    }
    QCOMPARE(rows(database), expectedRows(all));

    // Committed, but the program died before the file went.
    QVERIFY(QFile::copy(copy, journalPath()));
    SpillJournal journal(journalPath());
    QVERIFY(journal.load(&error));
    const auto later = samples(QStringLiteral("LATE"), 4, 90000);
    QVERIFY(journal.append(later, later.size(), &error));
    SpillJournal::Replayed done;
    QVERIFY(journal.replayInto(writer.get(), 100000, &done, &error));
    QCOMPARE(done.samples, 4);
    all.insert(all.end(), later.begin(), later.end());
    QCOMPARE(rows(database), expectedRows(all));
    QVERIFY(!QFile::exists(journalPath()));
}

// Catches: a journal that cannot be written (a full disk, a folder in its place) reported as
// holding the entries.
void TestSpillJournal::unwritableJournalKeepsNothing()
{
    QVERIFY(QDir().mkpath(journalPath()));
    SpillJournal journal(journalPath());
    QString error;
    journal.load(&error);
    const auto entries = samples(QStringLiteral("N1"), 5, 100);
    QVERIFY(!journal.append(entries, entries.size(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!journal.hasRecords());
}

// Catches: a few reports' PDFs spilled at once written as one record longer than any reader
// takes, so the journal reads as damaged and the reports are lost.
void TestSpillJournal::largeJobsInOneAppend()
{
    OutboxRecord report;
    report.attachmentName = QStringLiteral("monthly.pdf");
    report.attachment = QByteArray(25 << 20, '%');
    std::deque<WriteEntry> entries;
    for (quint64 ticket = 1; ticket <= 3; ++ticket)
        entries.push_back(WriteEntry::ofJob(WriteJob::outboxAdd(report), ticket));
    QString error;
    SpillJournal journal(journalPath());
    QVERIFY2(journal.load(&error), qPrintable(error));
    QVERIFY2(journal.append(entries, entries.size(), &error), qPrintable(error));
    SpillJournal again(journalPath());
    QVERIFY2(again.load(&error), qPrintable(error));
    QVERIFY(!again.isDamaged());
    qint64 sampleCount = 0;
    qint64 jobCount = 0;
    again.count(0, &sampleCount, &jobCount);
    QCOMPARE(jobCount, 3);
}

QTEST_GUILESS_MAIN(TestSpillJournal)
#include "tst_spilljournal.moc"
