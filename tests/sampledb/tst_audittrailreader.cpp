// The audit trail as the screen and the report read it: filters by period (whole local days, a
// summer-time change included), user, action and free text, pages that together are the whole
// trail once, and a read-only connection that never makes or changes the file.

#include "auditfill.h"
#include "audittrail.h"
#include "audittrailreader.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

using Sequences = QVector<qint64>;

struct Row
{
    const char* localTime; // "yyyy-MM-dd HH:mm:ss.zzz", local (the test runs under Europe/Berlin)
    const char* user;
    const char* action;
    const char* object;
    const char* oldValue;
    const char* newValue;
    const char* reason;
};

// Entry n is Rows[n - 1].
const Row Rows[] = {
    {"2026-03-28 23:59:59.999", "anna", "setting changed", "Node 1 high limit", "8.0", "10.0",
     "Summer stock"},
    {"2026-03-29 00:00:00.000", "recorder", "recording started", "recording", "", "", ""},
    {"2026-03-29 01:59:59.000", "annabel", "setting changed", "Kühlraum 2 low limit", "2.0", "1.5",
     "Door seal replaced"},
    // The hour 02:00-03:00 of this day does not exist: 03:00 CEST follows 01:59:59 CET.
    {"2026-03-29 03:00:00.000", "anna", "user added", "bert", "", "Operator", "new_hire"},
    {"2026-03-29 23:59:59.999", "bert", "alarm acknowledged", "Node 1 channel 1", "", "", "100% sure"},
    {"2026-03-30 00:00:00.000", "recorder", "recording stopped", "recording", "", "", ""},
    // This day has 25 hours: 02:00-03:00 comes twice.
    {"2026-10-25 00:00:00.000", "anna", "setting changed", "interval", "60", "30", "Audit, \"fast\""},
    {"2026-10-25 23:30:00.000", "bert", "sign-in failed", "bert", "", "", ""},
    {"2026-10-26 00:00:00.000", "anna", "setting changed", "interval", "30", "60", "Back to normal"},
};
constexpr int RowCount = int(sizeof(Rows) / sizeof(Rows[0]));

qint64 localMs(const char* text)
{
    const QDateTime t = QDateTime::fromString(QLatin1String(text),
                                              QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return t.toMSecsSinceEpoch();
}

AuditEntry entryOf(const Row& r)
{
    return AuditFill::entry(localMs(r.localTime), QString::fromUtf8(r.user),
                            QString::fromUtf8(r.action), QString::fromUtf8(r.object),
                            QString::fromUtf8(r.oldValue), QString::fromUtf8(r.newValue),
                            QString::fromUtf8(r.reason));
}

Sequences sequencesOf(const QVector<AuditEntry>& entries)
{
    Sequences out;
    for (const AuditEntry& e : entries)
        out << e.sequence;
    return out;
}

// Reads every page of `pageSize` and returns the entries in the order read.
QVector<AuditEntry> readAllPages(AuditTrailReader* reader, const AuditTrailFilter& filter,
                                 AuditTrailOrder order, int pageSize, int* pages)
{
    QVector<AuditEntry> all;
    QVector<AuditEntry> page;
    QString error;
    qint64 after = 0;
    *pages = 0;
    while (reader->page(filter, order, after, pageSize, &page, &error) && !page.isEmpty()) {
        ++*pages;
        all += page;
        after = page.last().sequence;
    }
    [&] { QVERIFY2(error.isEmpty(), qPrintable(error)); }();
    return all;
}

} // namespace

class TestAuditTrailReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void filters_data();
    void filters();
    void paging_data();
    void paging();
    void readOnly_data();
    void readOnly();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString database;
};

void TestAuditTrailReader::initTestCase()
{
    // The day edges below are Berlin's.
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Berlin"));
    QCOMPARE(localMs("2026-03-29 03:00:00.000") - localMs("2026-03-29 01:59:59.000"), 1000);
}

void TestAuditTrailReader::init()
{
    dir = std::make_unique<QTemporaryDir>();
    database = dir->filePath(QStringLiteral("project.db"));
}

void TestAuditTrailReader::filters_data()
{
    QTest::addColumn<QDate>("first"); // invalid: no period
    QTest::addColumn<QDate>("last");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Sequences>("expected"); // newest first

    const QDate none;
    const QDate spring(2026, 3, 29);
    const QDate autumn(2026, 10, 25);
    QTest::newRow("no filter: everything, newest first")
        << none << none << "" << "" << "" << Sequences{9, 8, 7, 6, 5, 4, 3, 2, 1};
    // A day taken as 24 hours from its midnight would reach 01:00 of the next day (entry 6).
    QTest::newRow("the 23-hour day: its first and last millisecond, not the next midnight")
        << spring << spring << "" << "" << "" << Sequences{5, 4, 3, 2};
    // ... and would end an hour early here, losing entry 8 at 23:30.
    QTest::newRow("the 25-hour day: its last half hour")
        << autumn << autumn << "" << "" << "" << Sequences{8, 7};
    QTest::newRow("two days across the change")
        << spring.addDays(-1) << spring << "" << "" << "" << Sequences{5, 4, 3, 2, 1};
    QTest::newRow("a day without entries") << QDate(2026, 5, 1) << QDate(2026, 5, 1) << "" << ""
                                           << "" << Sequences{};
    QTest::newRow("user exactly, not a longer name")
        << none << none << "anna" << "" << "" << Sequences{9, 7, 4, 1};
    QTest::newRow("user with SQL in it matches nobody")
        << none << none << "anna' or '1'='1" << "" << "" << Sequences{};
    QTest::newRow("action") << none << none << "" << "setting changed" << ""
                            << Sequences{9, 7, 3, 1};
    QTest::newRow("user and action and period")
        << spring.addDays(-1) << autumn << "anna" << "setting changed" << "" << Sequences{7, 1};
    QTest::newRow("text in the object, letter case aside beyond ASCII")
        << none << none << "" << "" << "KÜHLRAUM" << Sequences{3};
    QTest::newRow("text in an old value") << none << none << "" << "" << "8.0" << Sequences{1};
    QTest::newRow("text in a new value") << none << none << "" << "" << "operator"
                                         << Sequences{4};
    QTest::newRow("text in the reason, with quotes and a comma")
        << none << none << "" << "" << "audit, \"fast\"" << Sequences{7};
    QTest::newRow("percent sign is a character, not a wildcard")
        << none << none << "" << "" << "0%" << Sequences{5};
    QTest::newRow("underscore is a character, not a wildcard")
        << none << none << "" << "" << "w_h" << Sequences{4};
    QTest::newRow("underscore wildcard would match \"new\"")
        << none << none << "" << "" << "n_w" << Sequences{};
    QTest::newRow("text the user column holds is not searched")
        << none << none << "" << "" << "annabel" << Sequences{};
    QTest::newRow("user and text") << none << none << "anna" << "" << "interval"
                                   << Sequences{9, 7};
}

void TestAuditTrailReader::filters()
{
    QFETCH(QDate, first);
    QFETCH(QDate, last);
    QFETCH(QString, user);
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(Sequences, expected);

    QVector<AuditEntry> entries;
    for (const Row& r : Rows)
        entries << entryOf(r);
    QString error;
    QVERIFY2(AuditFill::append(database, entries, &error), qPrintable(error));

    AuditTrailFilter filter;
    if (first.isValid())
        filter.setDays(first, last);
    filter.user = user;
    filter.action = action;
    filter.text = text;
    AuditTrailReader reader(database);
    QVector<AuditEntry> page;
    QVERIFY2(reader.page(filter, AuditTrailOrder::NewestFirst, 0, 100, &page, &error),
             qPrintable(error));
    QCOMPARE(sequencesOf(page), expected);
    QCOMPARE(reader.count(filter, &error), qint64(expected.size()));
    // Entries come back as stored, hashes included.
    for (const AuditEntry& e : page) {
        const AuditEntry want = entryOf(Rows[e.sequence - 1]);
        QCOMPARE(e.timeMs, want.timeMs);
        QCOMPARE(e.object, want.object);
        QCOMPARE(e.reason, want.reason);
        QCOMPARE(e.hash, AuditTrail::hashOf(e));
    }
    // The oldest-first order is the same entries the other way round.
    QVERIFY(reader.page(filter, AuditTrailOrder::OldestFirst, 0, 100, &page, &error));
    Sequences reversed(expected.rbegin(), expected.rend());
    QCOMPARE(sequencesOf(page), reversed);
}

void TestAuditTrailReader::paging_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<bool>("newestFirst");
    QTest::addColumn<QString>("user"); // every third entry is "carl"'s
    QTest::addColumn<int>("expectedPages");

    QTest::newRow("newest first, pages of 1000") << 2500 << 1000 << true << "" << 3;
    QTest::newRow("oldest first, pages of 1000") << 2500 << 1000 << false << "" << 3;
    QTest::newRow("exact multiple of the page") << 2000 << 500 << true << "" << 4;
    QTest::newRow("filtered, pages skip what does not match") << 2500 << 300 << true << "carl"
                                                              << 3;
    QTest::newRow("filtered, oldest first") << 2500 << 300 << false << "carl" << 3;
    QTest::newRow("a page of nothing is taken as one") << 5 << 0 << true << "" << 5;
    QTest::newRow("a huge page is bounded") << 12000 << 1000000 << false << "" << 2;
}

void TestAuditTrailReader::paging()
{
    QFETCH(int, entries);
    QFETCH(int, pageSize);
    QFETCH(bool, newestFirst);
    QFETCH(QString, user);
    QFETCH(int, expectedPages);

    QVector<AuditEntry> written;
    for (int i = 0; i < entries; ++i)
        written << AuditFill::entry(1'700'000'000'000 + i * 1000,
                                    i % 3 == 0 ? QStringLiteral("carl") : QStringLiteral("dora"),
                                    QStringLiteral("setting changed"),
                                    QStringLiteral("setting %1").arg(i));
    QString error;
    QVERIFY2(AuditFill::append(database, written, &error), qPrintable(error));

    AuditTrailFilter filter;
    filter.user = user;
    AuditTrailReader reader(database);
    int pages = 0;
    const QVector<AuditEntry> read =
        readAllPages(&reader, filter,
                     newestFirst ? AuditTrailOrder::NewestFirst : AuditTrailOrder::OldestFirst,
                     pageSize, &pages);
    QCOMPARE(pages, expectedPages);
    Sequences expected;
    for (int i = 0; i < entries; ++i) {
        if (user.isEmpty() || i % 3 == 0)
            expected << i + 1;
    }
    if (newestFirst)
        std::reverse(expected.begin(), expected.end());
    QCOMPARE(sequencesOf(read), expected);
}

void TestAuditTrailReader::readOnly_data()
{
    QTest::addColumn<bool>("createFile");
    QTest::addColumn<bool>("readable");

    QTest::newRow("a database without the trail: no entries, nothing made") << true << true;
    QTest::newRow("no database: an error, no file made") << false << false;
}

void TestAuditTrailReader::readOnly()
{
    QFETCH(bool, createFile);
    QFETCH(bool, readable);

    if (createFile) {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(database.toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "create table other (x)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const QByteArray before = createFile ? [&] {
        QFile f(database);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }()
                                         : QByteArray();

    AuditTrailReader reader(database);
    QVector<AuditEntry> page;
    std::optional<AuditEntry> head;
    QStringList users, actions;
    QString error;
    QCOMPARE(reader.page({}, AuditTrailOrder::NewestFirst, 0, 10, &page, &error), readable);
    QCOMPARE(error.isEmpty(), readable);
    QCOMPARE(reader.count({}, &error), readable ? 0 : -1);
    QCOMPARE(reader.head(&head, &error), readable);
    QCOMPARE(reader.names(&users, &actions, &error), readable);
    QVERIFY(page.isEmpty());
    QVERIFY(!head);
    QVERIFY(users.isEmpty() && actions.isEmpty());
    QCOMPARE(QFile::exists(database), createFile);
    if (createFile) {
        QFile f(database);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
}

QTEST_GUILESS_MAIN(TestAuditTrailReader)
#include "tst_audittrailreader.moc"
