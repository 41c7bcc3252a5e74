// `Tallyforge --report audit`, run as a script or a cron job runs it: the entries of whole local
// days (a summer-time change included) in the order recorded, CSV that keeps any text of a user
// one field, a PDF with the project, the period and the chain's head, a period without entries,
// and the usage errors that exit 2.

#include "auditfill.h"
#include "audittrail.h"
#include "csvrecords.h"
#include "reportfixture.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace ReportFixture;

namespace {

struct Outcome
{
    int status = -1;
    QString errors;
};

// Entries n = 1, 2, ... at these local times (the test runs under Europe/Berlin).
const char* const Times[] = {
    "2026-03-28 23:59:59", // the day before the spring change
    "2026-03-29 00:00:00", // the 23-hour day's first second
    "2026-03-29 01:59:59",
    "2026-03-29 03:00:00", // an hour later than the entry before
    "2026-03-29 23:59:59", // the 23-hour day's last second
    "2026-03-30 00:00:00",
    "2026-10-25 23:30:00", // the 25-hour day's last half hour
    "2026-10-26 00:00:00",
};

} // namespace

class TestAuditReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void periods_data();
    void periods();
    void hostileTexts_data();
    void hostileTexts();
    void pdf_data();
    void pdf();
    void refused_data();
    void refused();

private:
    void append(const QString& localTime, const QString& user, const QString& action,
                const QString& object, const QString& reason);
    Outcome run(QStringList arguments);
    QString readText(const QString& path);

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    QString database;
};

void TestAuditReport::initTestCase()
{
    QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Berlin"));
}

void TestAuditReport::init()
{
    dir = std::make_unique<QTemporaryDir>();
    project = writeProject(dir->path(), QStringLiteral("Cold store.tpc"),
                           nestedDeviceList({QStringLiteral("1234")}), 60000,
                           QStringLiteral("2026-03-01 00:00:00"), QString());
    database = dir->filePath(QStringLiteral("Cold store.dat"));
    QVERIFY(writeDatabase(database, {}));
}

void TestAuditReport::append(const QString& localTime, const QString& user, const QString& action,
                             const QString& object, const QString& reason)
{
    const qint64 time = QDateTime::fromString(localTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                            .toMSecsSinceEpoch();
    QString error;
    QVERIFY2(AuditFill::append(database,
                               {AuditFill::entry(time, user, action, object, QStringLiteral("8.0"),
                                                 QStringLiteral("10.0"), reason)},
                               &error),
             qPrintable(error));
}

Outcome TestAuditReport::run(QStringList arguments)
{
    QProcess tallyforge;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    tallyforge.setProcessEnvironment(environment);
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("%P"), project).replace(QStringLiteral("%O"), dir->path());
    tallyforge.start(QStringLiteral(TALLYFORGE_PROGRAM), arguments);
    Outcome outcome;
    if (!tallyforge.waitForFinished(60000) || tallyforge.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.status = tallyforge.exitCode();
    outcome.errors = QString::fromLocal8Bit(tallyforge.readAllStandardError());
    return outcome;
}

QString TestAuditReport::readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestAuditReport::periods_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("entries"); // the Entry column, in order
    QTest::addColumn<QStringList>("times");   // the Time column, in order

    QTest::newRow("the 23-hour day, not the next midnight")
        << "2026-03-29" << "2026-03-29" << QStringList{"2", "3", "4", "5"}
        << QStringList{"2026-03-29T00:00:00.000+01:00", "2026-03-29T01:59:59.000+01:00",
                       "2026-03-29T03:00:00.000+02:00", "2026-03-29T23:59:59.000+02:00"};
    QTest::newRow("the 25-hour day to its end")
        << "2026-10-25" << "2026-10-25" << QStringList{"7"}
        << QStringList{"2026-10-25T23:30:00.000+01:00"};
    QTest::newRow("days across the change")
        << "2026-03-28" << "2026-03-30" << QStringList{"1", "2", "3", "4", "5", "6"}
        << QStringList{"2026-03-28T23:59:59.000+01:00", "2026-03-29T00:00:00.000+01:00",
                       "2026-03-29T01:59:59.000+01:00", "2026-03-29T03:00:00.000+02:00",
                       "2026-03-29T23:59:59.000+02:00", "2026-03-30T00:00:00.000+02:00"};
    QTest::newRow("a period without entries: the header alone")
        << "2026-05-01" << "2026-05-31" << QStringList{} << QStringList{};
}

// Catches a period whose days are taken as 24 hours (an entry lost or one of the next day
// listed), times without their offset, and an empty period taken as a failure.
void TestAuditReport::periods()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, times);
    for (const char* time : Times)
        append(QLatin1String(time), QStringLiteral("anna"), QStringLiteral("setting changed"),
               QStringLiteral("interval"), QString());

    const Outcome outcome = run({"--report", "audit", "--start", start, "--end", end, "--csv",
                                 "%O/audit", "%P"});
    QVERIFY2(outcome.status == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.errors, QString());
    bool wellFormed = false;
    const QList<QStringList> records = parseCsv(readText(dir->filePath("audit.csv")), &wellFormed);
    QVERIFY(wellFormed);
    QVERIFY(!records.isEmpty());
    QCOMPARE(records.first(), (QStringList{"Entry", "Time", "User", "Action", "Object",
                                           "Old value", "New value", "Reason", "SHA-256"}));
    QStringList gotEntries, gotTimes;
    for (const QStringList& r : records.mid(1)) {
        QCOMPARE(r.size(), 9);
        gotEntries << r.at(0);
        gotTimes << r.at(1);
        QCOMPARE(r.at(8).size(), 64);
    }
    QCOMPARE(gotEntries, entries);
    QCOMPARE(gotTimes, times);
}

void TestAuditReport::hostileTexts_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("comma") << "Summer stock, door opened more often";
    QTest::newRow("double quotes") << "He said \"checked\" twice";
    QTest::newRow("only a quote") << "\"";
    QTest::newRow("line breaks LF and CR LF") << "first line\nsecond\r\nthird";
    QTest::newRow("a lone CR") << "a\rb";
    QTest::newRow("quote, comma and newline at the edges") << "\",\n";
    QTest::newRow("a forged next record") << "x\r\n99,2026-01-01T00:00:00.000+01:00,admin";
    QTest::newRow("spaces kept") << "  padded  ";
    QTest::newRow("not ASCII") << "Kühlraum 2 – Tür ✓";
    QTest::newRow("empty") << "";
}

// Catches a text that breaks out of its field: another column, a forged record, or quotes lost.
void TestAuditReport::hostileTexts()
{
    QFETCH(QString, text);
    append(QStringLiteral("2026-03-10 12:00:00"), text, text, text, text);

    const Outcome outcome = run({"--report", "audit", "--start", "2026-03-10", "--end",
                                 "2026-03-10", "--csv", "%O/a.csv", "%P"});
    QVERIFY2(outcome.status == 0, qPrintable(outcome.errors));
    bool wellFormed = false;
    const QList<QStringList> records = parseCsv(readText(dir->filePath("a.csv")), &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(records.size(), 2);
    const QStringList r = records.at(1);
    QCOMPARE(r.size(), 9);
    QCOMPARE(r.mid(2, 6), (QStringList{text, text, text, "8.0", "10.0", text}));
}

void TestAuditReport::pdf_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("holds");
    QTest::addColumn<QStringList>("lacks");

    QTest::newRow("entries of the period")
        << "2026-03-29" << "2026-03-29"
        << QStringList{"Audit trail", "Cold store", "2026-03-29 to 2026-03-29",
                       "4 entries in the order recorded", "2026-03-29 03:00:00+02:00",
                       "Door <seal> & hinge", "Audit trail head: entry 8, SHA-256 "}
        << QStringList{"2026-03-30 00:00:00", "No entries were recorded"};
    QTest::newRow("a period without entries")
        << "2026-05-01" << "2026-05-02"
        << QStringList{"Cold store", "2026-05-01 to 2026-05-02",
                       "No entries were recorded in this period.",
                       "Audit trail head: entry 8, SHA-256 "}
        << QStringList{"Door <seal>"};
}

// Catches a PDF without the project, the period or the head, entries outside the period, and
// texts taken as markup.
void TestAuditReport::pdf()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, holds);
    QFETCH(QStringList, lacks);
    for (const char* time : Times)
        append(QLatin1String(time), QStringLiteral("anna"), QStringLiteral("setting changed"),
               QStringLiteral("Node 1 high limit"), QStringLiteral("Door <seal> & hinge"));

    const Outcome outcome = run({"--report", "audit", "--start", start, "--end", end, "--pdf",
                                 "%O/audit", "%P"});
    QVERIFY2(outcome.status == 0, qPrintable(outcome.errors));
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-layout"), dir->filePath("audit.pdf"), QStringLiteral("-")});
    QVERIFY(pdftotext.waitForFinished(30000));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    for (const QString& h : holds)
        QVERIFY2(text.contains(h), qPrintable(h + QStringLiteral(" missing in:\n") + text));
    for (const QString& l : lacks)
        QVERIFY2(!text.contains(l), qPrintable(l));
    SqliteConnection db;
    QVERIFY(db.open(database, SQLITE_OPEN_READONLY));
    std::optional<AuditEntry> head;
    QString error;
    QVERIFY(AuditTrail::head(db.get(), &head, &error) && head);
    QVERIFY(text.contains(QString::fromLatin1(head->hash)));
}

void TestAuditReport::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("entries"); // in the period

    const QStringList period{"--report", "audit", "--start", "2026-03-01", "--end", "2026-03-31"};
    auto with = [&period](const QStringList& rest) { return QStringList(period) << rest; };
    QTest::newRow("no end") << QStringList{"--report", "audit", "--start", "2026-03-01", "--csv",
                                           "%O/a.csv", "%P"}
                            << 2 << "--end must be a date as yyyy-MM-dd" << 1;
    QTest::newRow("end before start")
        << QStringList{"--report", "audit", "--start", "2026-03-02", "--end", "2026-03-01",
                       "--csv",    "%O/a.csv", "%P"}
        << 2 << "--end must not be before --start" << 1;
    QTest::newRow("impossible date")
        << QStringList{"--report", "audit", "--start", "2026-02-30", "--end", "2026-03-01",
                       "--csv",    "%O/a.csv", "%P"}
        << 2 << "--start must be a date as yyyy-MM-dd" << 1;
    QTest::newRow("both outputs") << with({"--pdf", "%O/a.pdf", "--csv", "%O/a.csv", "%P"}) << 2
                                  << "give one of --pdf FILE and --csv FILE" << 1;
    QTest::newRow("no output") << with({"%P"}) << 2 << "give one of --pdf FILE and --csv FILE" << 1;
    QTest::newRow("html") << with({"--html", "%O/a.html", "%P"}) << 2
                          << "--html is not for the audit report" << 1;
    QTest::newRow("channels") << with({"--channels", "1234_channel1", "--csv", "%O/a.csv", "%P"})
                              << 2 << "--channels is not for the audit report" << 1;
    QTest::newRow("no project") << with({"--csv", "%O/a.csv"}) << 2
                                << "give exactly one project file" << 1;
    // Another report writes its own tables as CSV (ReportCsv): here without samples, so none.
    QTest::newRow("csv for another report")
        << QStringList{"--report", "daily", "--start", "2026-03-01", "--csv", "%O/a.csv", "%P"}
        << 1 << "Not Enough Data." << 1;
    QTest::newRow("end for another report")
        << QStringList{"--report", "weekly", "--start", "2026-03-01", "--end", "2026-03-08",
                       "--pdf",    "%O/a.pdf", "%P"}
        << 2 << "--end is for the audit report only" << 1;
    QTest::newRow("end twice") << with({"--end", "2026-04-01", "--csv", "%O/a.csv", "%P"}) << 2
                               << "--end is given more than once" << 1;
    QTest::newRow("project missing")
        << with({"--csv", "%O/a.csv", "%O/none.tpc"}) << 1 << "does not exist" << 1;
    QTest::newRow("file cannot be written")
        << with({"--csv", "%O/no such folder/a.csv", "%P"}) << 1 << "Unable to open the file." << 1;
    QTest::newRow("PDF cannot be written")
        << with({"--pdf", "%O/no such folder/a.pdf", "%P"}) << 1 << "Unable to open the file." << 1;
    // A PDF of some hundred pages at the most; CSV for more.
    QTest::newRow("too many entries for a PDF")
        << with({"--pdf", "%O/a.pdf", "%P"}) << 1
        << "The period holds 20001 entries; a PDF lists at most 20000." << 20001;
}

// Catches arguments that cannot be honoured taken as a report (a period ending before it starts,
// --end for a daily report), and a failure reported as success.
void TestAuditReport::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(int, entries);
    const qint64 noon = QDateTime(QDate(2026, 3, 10), QTime(12, 0)).toMSecsSinceEpoch();
    QVector<AuditEntry> written;
    for (int i = 0; i < entries; ++i)
        written << AuditFill::entry(noon + i * 1000, QStringLiteral("anna"),
                                    QStringLiteral("setting changed"), QStringLiteral("interval"));
    QString error;
    QVERIFY2(AuditFill::append(database, written, &error), qPrintable(error));
    const Outcome outcome = run(arguments);
    QCOMPARE(outcome.status, status);
    QVERIFY2(outcome.errors.contains(message), qPrintable(outcome.errors));
    if (status == 2)
        QVERIFY(outcome.errors.contains(QStringLiteral("Usage: Tallyforge")));
    QVERIFY(QDir(dir->path()).entryList({"*.csv", "*.pdf", "*.html"}, QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TestAuditReport)
#include "tst_auditreport.moc"
