#include "alarmmonitor.h"
#include "databasewriter.h"
#include "mailtext.h"
#include "notificationsettings.h"
#include "projectfile.h"
#include "projectnotifications.h"
#include "projectreports.h"
#include "reportfixture.h"
#include "reportruntable.h"
#include "smtpserver.h"
#include "writejob.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString Boss = QStringLiteral("boss@store.example");

// The PDF a received report mail carries, decoded from its application/pdf part.
QByteArray attachedPdf(const QByteArray& mail)
{
    return MailText::part(mail, "application/pdf");
}

} // namespace

// Scheduled reports end to end: the schedule of a project file, the real report generator
// making each PDF in a process of its own, the project's writer recording the runs, and the
// notifications mailing them to the test's SMTP sink. The clock is the test's; the program
// and the mail run in real time.
class TestProjectReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reportsMailedOnce_data();
    void reportsMailedOnce();

private:
    // A project with hourly samples on `days`, its notifications sent to `sink`, a daily report
    // at 06:00 for Boss, and a run of `lastPeriod` (due the next day at 06:00) recorded.
    void makeProject(const QStringList& days, quint16 port, const QString& lastPeriod);
    void open(const QString& program);
    // Events and the outbox's ticks until `done`, for up to `ms` of real time.
    bool runUntil(const std::function<bool()>& done, int ms);

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    QString database;
    QDateTime now;
    QStringList audit;
    std::unique_ptr<DatabaseWriter> writer;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<ProjectNotifications> notifications;
    std::unique_ptr<ProjectReports> reports;
};

void TestProjectReports::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QFileInfo(QStringLiteral(TALLYFORGE_PROGRAM)).isExecutable());
}

void TestProjectReports::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    audit.clear();
}

void TestProjectReports::cleanup()
{
    reports.reset();
    notifications.reset();
    monitor.reset();
    writer.reset();
    dir.reset();
}

void TestProjectReports::makeProject(const QStringList& days, quint16 port,
                                     const QString& lastPeriod)
{
    project = ReportFixture::writeProject(dir->path(), QStringLiteral("Cold store.tpc"),
                                          ReportFixture::nestedDeviceList({"1001"}), 1000,
                                          QStringLiteral("2026-06-01 00:00:00"),
                                          QStringLiteral("2026-06-13 08:00:00"));
    database = ProjectFile::databasePath(project);
    QList<ReportFixture::Sample> samples;
    for (const QString& day : days) {
        for (int hour = 0; hour < 24; ++hour)
            samples << ReportFixture::Sample{
                QStringLiteral("1001"), 4.0 + hour * 0.1, 55.0,
                ReportFixture::localSecs(day + QStringLiteral(" %1:00:00").arg(hour, 2, 10,
                                                                              QLatin1Char('0')))};
    }
    QVERIFY(ReportFixture::writeDatabase(database, samples, false, true));

    NotificationSettings n;
    n.emailEnabled = true;
    n.smtpHost = QStringLiteral("127.0.0.1");
    n.smtpPort = port;
    n.smtpSecurity = SmtpSecurity::None;
    n.sender = QStringLiteral("recorder@store.example");
    n.recipients = QStringList{QStringLiteral("duty@store.example")};
    n.remindersEnabled = false;
    n.save(project);
    ReportScheduleSettings s;
    s.entries[ReportScheduleSettings::Daily].enabled = true;
    s.entries[ReportScheduleSettings::Daily].time = QTime(6, 0);
    s.recipients = QStringList{Boss};
    s.save(project);

    writer = std::make_unique<DatabaseWriter>(database, QUuid::createUuid().toString());
    QVERIFY(writer->open());
    if (!lastPeriod.isEmpty()) {
        ReportRunRecord r;
        r.kind = QStringLiteral("daily");
        r.first = QDate::fromString(lastPeriod, Qt::ISODate);
        r.last = r.first;
        r.dueMs = QDateTime(r.first.addDays(1), QTime(6, 0)).toMSecsSinceEpoch();
        r.madeMs = r.dueMs;
        r.state = ReportRunRecord::stateSent();
        writer->submit(WriteJob::reportRun(r));
        // The fixture's file has no kinetic sums yet: the writer fills them once, in the
        // background, and writes what waited after.
        QTRY_VERIFY_WITH_TIMEOUT(writer->flushAndWait(QDateTime::currentMSecsSinceEpoch()), 30000);
    }
}

void TestProjectReports::open(const QString& program)
{
    monitor = std::make_unique<AlarmMonitor>();
    monitor->setClock([this] { return now; });
    notifications = std::make_unique<ProjectNotifications>(project, writer.get(), monitor.get());
    notifications->setClock([this] { return now; });
    QSignalSpy read(notifications->secretStore(), &SecretStore::readFinished);
    notifications->start();
    QTRY_VERIFY_WITH_TIMEOUT(!read.isEmpty(), 10000);

    reports = std::make_unique<ProjectReports>(project, QStringLiteral("Cold store"), database);
    reports->setClock([this] { return now; });
    ReportRunner* runner = reports->runner();
    runner->setProgram(program);
    runner->setRetryDelays(300, 1200);
    runner->setSubmit([this](const WriteJob& job) { writer->submit(job); });
    runner->setAudit([this](const QString& action, const QString& object, const QString& value) {
        audit << action + QStringLiteral(": ") + object + QStringLiteral(" (") + value +
                     QLatin1Char(')');
    });
    reports->mailThrough(notifications.get());
}

bool TestProjectReports::runUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        notifications->tick();
        reports->tick();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QTest::qWait(20);
    }
    return done();
}

void TestProjectReports::reportsMailedOnce_data()
{
    QTest::addColumn<QStringList>("days");
    QTest::addColumn<QString>("lastPeriod");
    QTest::addColumn<QString>("since");
    // ReportMailMaxBytes (0: not in the file); the program missing at first.
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QStringList>("subjects");
    // Each period's row at the end as "key=state" ("failed": tried twice at least), and the
    // status bar's note (a pattern; empty: none).
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("note");

    // Faults: the days missed while off made once for all, twice, or not marked late.
    QTest::newRow("off two days: two late reports")
        << QStringList{"2026-06-11", "2026-06-12"} << "2026-06-10" << "2026-06-13 09:00" << 0
        << false
        << QStringList{"[Cold store] Daily report 2026-06-11 (late)",
                       "[Cold store] Daily report 2026-06-12 (late)"}
        << QStringList{"daily.2026-06-10=sent", "daily.2026-06-11=sent", "daily.2026-06-12=sent"}
        << "";
    // Faults: a report due while running not made at its minute, or marked late.
    QTest::newRow("due while running")
        << QStringList{"2026-06-12"} << "2026-06-11" << "2026-06-13 06:00" << 0 << false
        << QStringList{"[Cold store] Daily report 2026-06-12"}
        << QStringList{"daily.2026-06-11=sent", "daily.2026-06-12=sent"} << "";
    // Faults: a report over the limit queued, retried for ever, or refused without a word.
    QTest::newRow("too large to mail")
        << QStringList{"2026-06-12"} << "2026-06-11" << "2026-06-13 06:00" << 65536 << false
        << QStringList() << QStringList{"daily.2026-06-11=sent", "daily.2026-06-12=too large"}
        << "^Daily report 2026-06-12 not mailed: Report too large to mail: ";
    // Faults: a missing program taken as done, not retried once it is there, or its note
    // staying after the report was made.
    QTest::newRow("program missing, then installed")
        << QStringList{"2026-06-12"} << "2026-06-11" << "2026-06-13 06:00" << 0 << true
        << QStringList{"[Cold store] Daily report 2026-06-12"}
        << QStringList{"daily.2026-06-11=sent", "daily.2026-06-12=sent"} << "";
    // Faults: an exit status 1 taken as a report, or the failure not retried and not shown.
    QTest::newRow("no samples in the period")
        << QStringList{"2026-06-10"} << "2026-06-11" << "2026-06-13 06:00" << 0 << false
        << QStringList() << QStringList{"daily.2026-06-11=sent", "daily.2026-06-12=failed"}
        << "^Daily report 2026-06-12 failed, next try \\d\\d:\\d\\d: Tallyforge ended with status 1";
}

void TestProjectReports::reportsMailedOnce()
{
    QFETCH(QStringList, days);
    QFETCH(QString, lastPeriod);
    QFETCH(QString, since);
    QFETCH(int, limit);
    QFETCH(bool, missing);
    QFETCH(QStringList, subjects);
    QFETCH(QStringList, rows);
    QFETCH(QString, note);

    SmtpServer sink(dir->path());
    QVERIFY2(sink.start(SmtpServer::Mode::Plain), qPrintable(sink.errorString()));
    makeProject(days, sink.port(), lastPeriod);
    if (limit > 0)
        ProjectFile(project).setValue(QStringLiteral("ReportMailMaxBytes"), limit);
    now = QDateTime::fromString(since, QStringLiteral("yyyy-MM-dd hh:mm"));
    open(missing ? dir->filePath(QStringLiteral("bin/Tallyforge"))
                 : QStringLiteral(TALLYFORGE_PROGRAM));

    const auto states = [](const auto& runs) {
        QStringList out;
        for (const ReportRunRecord& r : runs)
            out << r.key() + QLatin1Char('=') + r.state +
                       (r.state == ReportRunRecord::stateFailed() && r.attempts < 2
                            ? QStringLiteral(" once")
                            : QString());
        out.sort();
        return out;
    };
    QElapsedTimer fromDue;
    fromDue.start();
    QString error;
    QVERIFY2(reports->open(&error), qPrintable(error));
    if (missing) {
        QVERIFY(runUntil([&] { return reports->note().endsWith(QLatin1String("not found")); },
                         30000));
        reports->runner()->setProgram(QStringLiteral(TALLYFORGE_PROGRAM));
    }
    QVERIFY(runUntil(
        [&] { return sink.messages().size() >= subjects.size() && states(reports->runs()) == rows; },
        60000));
    if (!subjects.isEmpty() && !missing)
        qInfo("From due time to %d message(s) stored by the sink: %lld ms", int(subjects.size()),
              fromDue.elapsed());
    // A minute later, and the periods asked again: nothing more.
    now = now.addSecs(60);
    reports->check();
    runUntil([&] { return false; }, 1500);

    QStringList got;
    for (const QByteArray& mail : sink.messages()) {
        got << MailText::decodedWords(MailText::header(mail, "Subject"));
        QCOMPARE(MailText::header(mail, "X-RcptTo"), Boss.toUtf8());
        const QByteArray pdf = attachedPdf(mail);
        QVERIFY(pdf.startsWith("%PDF") && pdf.trimmed().endsWith("%%EOF"));
    }
    got.sort();
    QCOMPARE(got, subjects);
    QTRY_VERIFY_WITH_TIMEOUT(writer->flushAndWait(QDateTime::currentMSecsSinceEpoch()), 30000);
    QVector<ReportRunRecord> stored;
    QVERIFY2(ReportRunTable::read(database, &stored, &error), qPrintable(error));
    QCOMPARE(states(stored), rows);
    QCOMPARE(audit.filter(QStringLiteral("report made: ")).size(), subjects.size());
    QCOMPARE(audit.filter(QStringLiteral("report sent: ")).size(), subjects.size());
    QCOMPARE(audit.filter(QStringLiteral("report failed: ")).size(),
             rows.filter(QStringLiteral("=failed")).size() + (missing ? 1 : 0));
    QVERIFY2(note.isEmpty() ? reports->note().isEmpty()
                            : QRegularExpression(note).match(reports->note()).hasMatch(),
             qPrintable(reports->note()));
}

QTEST_GUILESS_MAIN(TestProjectReports)
#include "tst_projectreports.moc"
