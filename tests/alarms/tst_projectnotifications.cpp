#include "alarmmonitor.h"
#include "databasewriter.h"
#include "mailtext.h"
#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "notificationsettings.h"
#include "novalue.h"
#include "projectfile.h"
#include "projectnotifications.h"
#include "smtpserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString Duty = QStringLiteral("duty@store.example");
const QString Other = QStringLiteral("other@store.example");
const QString Gone = QStringLiteral("gone@store.example");

} // namespace

// The open project's notifications as the recorder holds them: settings read from the project
// file, alarms of a monitor on a clock the test drives, messages sent to the test's own SMTP
// servers, and what the outbox and the settings report relayed to the status bar.
class TestProjectNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reloadTakesNewSettings_data();
    void reloadTakesNewSettings();
    void keyProblemsRelayed_data();
    void keyProblemsRelayed();
    void outboxStateRelayed_data();
    void outboxStateRelayed();
    void reportPosted_data();
    void reportPosted();

private:
    void open();
    // start() or reload(), and the wait for the e-mail password's read that sets the targets.
    void load(bool reload);
    // Raises an alarm on `serial` (range 0 to 8, a value of 12).
    void raiseAlarm(const QString& serial);
    // Seconds on the test's clock, a sample of every watched node each 10 s, until `done`.
    bool advanceUntil(const std::function<bool()>& done, int seconds = 120);

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    NotificationSettings settings;
    QDateTime now;
    QStringList alarmed;
    std::unique_ptr<DatabaseWriter> writer;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<ProjectNotifications> notifications;
};

void TestProjectNotifications::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestProjectNotifications::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("site.tpc"));
    ProjectFile(project).create(1000);
    now = QDateTime(QDate(2024, 3, 31), QTime(0, 30), Qt::UTC);
    alarmed.clear();
    settings = NotificationSettings();
    settings.emailEnabled = true;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpSecurity = SmtpSecurity::None;
    settings.sender = QStringLiteral("recorder@store.example");
    settings.recipients = QStringList{Duty};
    settings.remindersEnabled = false;
    settings.escalationEnabled = false;
}

void TestProjectNotifications::cleanup()
{
    notifications.reset();
    monitor.reset();
    writer.reset();
    dir.reset();
}

void TestProjectNotifications::open()
{
    writer = std::make_unique<DatabaseWriter>(ProjectFile::databasePath(project),
                                              QUuid::createUuid().toString());
    QVERIFY(writer->open());
    monitor = std::make_unique<AlarmMonitor>();
    monitor->setClock([this] { return now; });
    notifications = std::make_unique<ProjectNotifications>(project, writer.get(), monitor.get());
    notifications->setClock([this] { return now; });
}

void TestProjectNotifications::load(bool reload)
{
    QSignalSpy read(notifications->secretStore(), &SecretStore::readFinished);
    if (reload)
        notifications->reload();
    else
        notifications->start();
    if (settings.emailEnabled)
        QTRY_VERIFY_WITH_TIMEOUT(!read.isEmpty(), 10000);
}

void TestProjectNotifications::raiseAlarm(const QString& serial)
{
    MonitoredNode node;
    node.serial = serial;
    node.max[0] = 8;
    monitor->setNode(node);
    alarmed << serial;
}

bool TestProjectNotifications::advanceUntil(const std::function<bool()>& done, int seconds)
{
    for (int i = 0; i < seconds && !done(); ++i) {
        now = now.addSecs(1);
        if (now.time().second() % 10 == 0) {
            for (const QString& serial : qAsConst(alarmed))
                monitor->sample(serial, 12, NoValue, -1, now);
        }
        monitor->tick();
        notifications->tick();
        // The send in progress (or a secret being read) answers through the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        while (notifications->outbox()->isSending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return done();
}

void TestProjectNotifications::reloadTakesNewSettings_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("firstMails");
    QTest::addColumn<int>("secondMails");
    QTest::addColumn<QString>("recipient");
    QTest::newRow("another recipient") << QStringLiteral("recipient") << 2 << 0 << Other;
    QTest::newRow("another server") << QStringLiteral("server") << 1 << 1 << Duty;
    QTest::newRow("e-mail turned off") << QStringLiteral("off") << 1 << 0 << QString();
}

// Catches a reload that keeps sending with the settings read at the start (the old server,
// the old recipients, or e-mail the user turned off).
void TestProjectNotifications::reloadTakesNewSettings()
{
    QFETCH(QString, change);
    QFETCH(int, firstMails);
    QFETCH(int, secondMails);
    QFETCH(QString, recipient);

    SmtpServer first(dir->path());
    SmtpServer second(dir->path());
    QVERIFY2(first.start(SmtpServer::Mode::Plain), qPrintable(first.errorString()));
    QVERIFY2(second.start(SmtpServer::Mode::Plain), qPrintable(second.errorString()));
    settings.smtpPort = first.port();
    settings.save(project);
    open();
    load(false);
    raiseAlarm(QStringLiteral("N1"));
    QVERIFY(advanceUntil([&] { return first.messages().size() == 1; }));

    if (change == QLatin1String("recipient"))
        settings.recipients = QStringList{Other};
    else if (change == QLatin1String("server"))
        settings.smtpPort = second.port();
    else
        settings.emailEnabled = false;
    settings.save(project);
    load(true);
    raiseAlarm(QStringLiteral("N2"));
    advanceUntil([&] {
        return first.messages().size() + second.messages().size() > 1 &&
               notifications->outbox()->waitingCount() == 0;
    });
    QCOMPARE(first.messages().size(), firstMails);
    QCOMPARE(second.messages().size(), secondMails);
    const QList<QByteArray> mails = first.messages() + second.messages();
    if (!recipient.isEmpty())
        QCOMPARE(MailText::header(mails.last(), "X-RcptTo"), recipient.toUtf8());
    QCOMPARE(notifications->outbox()->failingCount(), 0);
}

void TestProjectNotifications::keyProblemsRelayed_data()
{
    QTest::addColumn<QByteArray>("hostLine");
    QTest::addColumn<QStringList>("problemKeys");
    QTest::newRow("every key read") << QByteArray() << QStringList();
    QTest::newRow("host spoiled by hand")
        << QByteArray("NotifySmtpHost=@Rect(0 0 1 1)") << QStringList{"NotifySmtpHost"};
}

// Catches key problems of the project file that never reach the status bar, or that stay shown
// after the file was mended and reloaded.
void TestProjectNotifications::keyProblemsRelayed()
{
    QFETCH(QByteArray, hostLine);
    QFETCH(QStringList, problemKeys);

    settings.smtpPort = SmtpServer::closedPort();
    settings.save(project);
    if (!hostLine.isEmpty()) {
        QFile file(project);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        const int at = text.indexOf("NotifySmtpHost=");
        QVERIFY(at >= 0);
        text.replace(at, text.indexOf('\n', at) - at, hostLine);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    open();
    QSignalSpy problems(notifications.get(), &ProjectNotifications::keyProblemsChanged);
    load(false);
    QCOMPARE(problems.size(), 1);
    const QStringList told = problems.first().at(0).toStringList();
    QCOMPARE(told, notifications->keyProblems());
    QCOMPARE(told.size(), problemKeys.size());
    for (int i = 0; i < problemKeys.size(); ++i)
        QVERIFY2(told.at(i).contains(problemKeys.at(i)), qPrintable(told.at(i)));

    settings.save(project);
    load(true);
    QCOMPARE(problems.size(), 2);
    QCOMPARE(problems.last().at(0).toStringList(), QStringList());
    QCOMPARE(notifications->keyProblems(), QStringList());
}

void TestProjectNotifications::outboxStateRelayed_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<int>("failing");
    QTest::addColumn<QStringList>("refused");
    QTest::newRow("one recipient refused")
        << true << QStringList{Duty, Gone} << 0 << QStringList{Gone};
    QTest::newRow("server down") << false << QStringList{Duty} << 1 << QStringList();
}

// Catches an outbox whose failures or refused recipients never reach the status bar.
void TestProjectNotifications::outboxStateRelayed()
{
    QFETCH(bool, serverUp);
    QFETCH(QStringList, recipients);
    QFETCH(int, failing);
    QFETCH(QStringList, refused);

    SmtpServer server(dir->path());
    server.refuseRecipient(Gone);
    if (serverUp)
        QVERIFY2(server.start(SmtpServer::Mode::Plain), qPrintable(server.errorString()));
    settings.smtpPort = serverUp ? server.port() : SmtpServer::closedPort();
    settings.recipients = recipients;
    settings.save(project);
    open();
    QSignalSpy state(notifications.get(), &ProjectNotifications::outboxStateChanged);
    load(false);
    raiseAlarm(QStringLiteral("N1"));
    QVERIFY(advanceUntil([&] { return !state.isEmpty(); }));
    QCOMPARE(state.last().at(0).toInt(), failing);
    QCOMPARE(state.last().at(1).toString().isEmpty(), failing == 0);
    QCOMPARE(state.last().at(2).toStringList(), refused);
    QCOMPARE(server.messages().size(), serverUp ? 1 : 0);
}

void TestProjectNotifications::reportPosted_data()
{
    QTest::addColumn<bool>("email");
    QTest::addColumn<QStringList>("reportRecipients");
    QTest::addColumn<int>("limit"); // 0: the key absent
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("to the report list, not the alarm list")
        << true << QStringList{Other} << 0 << 3000 << QString();
    QTest::newRow("over the project's limit")
        << true << QStringList{Other} << 65536 << 70000
        << QStringLiteral("Report too large to mail: 68.4 kB, the limit is 64 kB");
    QTest::newRow("no report recipient")
        << true << QStringList() << 0 << 3000 << QStringLiteral("No report recipient is set");
    QTest::newRow("e-mail off") << false << QStringList{Other} << 0 << 3000
                                << QStringLiteral("E-mail notifications are off: the report is "
                                                  "not mailed");
}

// Catches a report mailed to the alarm list, over the project's limit, or refused without a
// word the caller can show.
void TestProjectNotifications::reportPosted()
{
    QFETCH(bool, email);
    QFETCH(QStringList, reportRecipients);
    QFETCH(int, limit);
    QFETCH(int, bytes);
    QFETCH(QString, refusal);

    SmtpServer server(dir->path());
    QVERIFY2(server.start(SmtpServer::Mode::Plain), qPrintable(server.errorString()));
    settings.smtpPort = server.port();
    settings.emailEnabled = email;
    settings.save(project);
    if (limit > 0)
        ProjectFile(project).setValue(QStringLiteral("ReportMailMaxBytes"), limit);
    open();
    load(false);
    notifications->setReportRecipients(reportRecipients);
    const NotificationMessage report = NotificationMessage::report(
        QStringLiteral("Site"), QStringLiteral("Daily report"), QStringLiteral("2024-03-30"),
        false, QStringLiteral("site-daily.pdf"), QByteArray(bytes, 'x'),
        QStringLiteral("report.daily.2024-03-30"));
    QCOMPARE(notifications->postReport(report), refusal);
    advanceUntil([&] { return notifications->outbox()->waitingCount() == 0; }, 30);
    QCOMPARE(notifications->outbox()->waitingCount(), 0);
    QCOMPARE(server.messages().size(), refusal.isEmpty() ? 1 : 0);
    if (refusal.isEmpty())
        QCOMPARE(MailText::header(server.messages().first(), "X-RcptTo"), Other.toUtf8());
}

QTEST_GUILESS_MAIN(TestProjectNotifications)
#include "tst_projectnotifications.moc"
