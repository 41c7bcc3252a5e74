#include "auditreport.h"
#include "configureddevice.h"
#include "databasepeek.h"
#include "desksession.h"
#include "messagedialog.h"
#include "report.h"
#include "reportapprovaltable.h"
#include "reportapprover.h"
#include "reportcommandline.h"
#include "reportfixture.h"
#include "reportstartup.h"
#include "signaturedialog.h"
#include "signaturetable.h"
#include "signinsession.h"
#include "sqliteconnection.h"
#include "userdirectory.h"
#include "usertable.h"
#include "verifyreportcommand.h"

#include <QCommandLinkButton>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>
#include <QWebElement>
#include <QWebFrame>
#include <QtMath>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using namespace ReportFixture;

namespace {

const QString kProject = QStringLiteral("cold store.tpc");
const QString kDatabase = QStringLiteral("cold store.dat");

// The text of a PDF, its pages ended by form feeds; from `first` to `last` page when given.
QString pdfText(const QString& path, int first = 0, int last = 0)
{
    QStringList arguments;
    if (first > 0)
        arguments << QStringLiteral("-f") << QString::number(first) << QStringLiteral("-l")
                  << QString::number(last);
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), arguments << path << QStringLiteral("-"));
    if (!pdftotext.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

bool execute(const QString& database, const QString& sql)
{
    SqliteConnection connection;
    if (!connection.open(database, SQLITE_OPEN_READWRITE))
        return false;
    sqlite3* db = connection.get();
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A project with two nodes sampled each minute of 2026-01-09 and the first hours of the 10th
// (local time), and the desk's team as its users.
bool writeProjectWithUsers(const QString& folder)
{
    const QByteArray devices = nestedDeviceList({QStringLiteral("1234"), QStringLiteral("5678")});
    const QString project = writeProject(folder, kProject, devices, 60000, QString(), QString());
    QSettings settings(project, QSettings::IniFormat);
    settings.setValue(QStringLiteral("record_start_time"), QStringLiteral("2026-01-08 12:00:13"));
    settings.setValue(QStringLiteral("record_stop_time"), QStringLiteral("2026-01-10 08:15:42"));
    settings.sync();
    QList<Sample> samples;
    const qint64 day = localSecs(QStringLiteral("2026-01-09 00:00:00"));
    for (int i = 0; i < 32 * 60; ++i) {
        const qint64 t = day + i * 60;
        samples.append({QStringLiteral("1234"), 4.0 + 3.0 * qSin(i / 90.0), 60.0, t});
        samples.append({QStringLiteral("5678"), 12.0 + i / 400.0, 35.0, t + 7});
    }
    const QString database = folder + QLatin1Char('/') + kDatabase;
    if (!writeDatabase(database, samples))
        return false;
    SqliteConnection connection;
    QString error;
    if (!UserTable::open(&connection, database, 5000, &error))
        return false;
    UserDirectory users(connection.get(), UserDirectory::Clock(), PasswordHash::least());
    for (const DeskSession::Person& p : DeskSession::team()) {
        if (!users.add(QStringLiteral("desk"), p.name, p.role, p.password, QStringLiteral("set up"),
                       &error)) {
            qWarning() << error;
            return false;
        }
    }
    return true;
}

QByteArray passwordOf(const QString& name)
{
    for (const DeskSession::Person& p : DeskSession::team()) {
        if (p.name == name)
            return p.password;
    }
    return QByteArray();
}

bool copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs |
                                                           QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyFolder(entry.filePath(), target)
                          : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

} // namespace

class TestReportApproval : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void approvalRecorded();
    void verifyReport_data();
    void verifyReport();
    void refused_data();
    void refused();
    void reviewListed_data();
    void reviewListed();
    void approvalBelowContent_data();
    void approvalBelowContent();
    void commitFails_data();
    void commitFails();
    void signatureDialog_data();
    void signatureDialog();

private:
    // `dialogs`: the window's own Signature dialog instead of a signature given by the test.
    std::unique_ptr<Report> openWindow(const QString& folder, ReportKind kind = ReportKind::Daily,
                                       bool dialogs = false);
    bool signIn(Report* report, const QString& name);
    bool makeReport(Report* report);
    // The report shown, exported unsigned to `path`, then approved with the test's signature:
    // the approved copy kept, empty when the approval failed.
    QString exportAndApprove(Report* report, const QString& path);

    QTemporaryDir dir;
    QString projectFolder;
    QString approvedCopy;
    QString remadePdf;
    QStringList opened;
    QStringList messages;
    int signaturesAsked = 0;
    QString otherProjectFolder;
};

std::unique_ptr<Report> TestReportApproval::openWindow(const QString& folder, ReportKind kind,
                                                       bool dialogs)
{
    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    if (!ReportStartup::check({QStringLiteral("Tallyforge"), folder + QLatin1Char('/') + kProject},
                              &path, &devices, &errorText)) {
        qWarning() << errorText;
        return nullptr;
    }
    auto report = std::make_unique<Report>(path, devices, kind);
    report->desktop().openFile = [this](const QString& file) {
        opened.append(file);
        return true;
    };
    report->desktop().message = [this](const QString& title, const QString& text) {
        messages.append(title + QStringLiteral(": ") + text);
    };
    report->desktop().signIn = [](SignInSession*, std::optional<AccessPolicy::Action>,
                                  const QString&, QWidget*) { return false; };
    if (dialogs) {
        report->show();
        return report;
    }
    // The signature of the one signed in, with that user's password, checked by the session.
    report->desktop().sign = [this](SignInSession* session, const QString&, const QString&,
                                    QWidget*,
                                    const std::function<void(const SignatureGrant&)>& signedBy) {
        ++signaturesAsked;
        const QString name = session->user() ? session->user()->name : QString();
        session->sign(name, passwordOf(name),
                      [signedBy](const UserDirectory::SignInResult&,
                                 const std::optional<SignatureGrant>& grant) {
                          if (grant)
                              signedBy(*grant);
                      });
    };
    report->show();
    return report;
}

bool TestReportApproval::signIn(Report* report, const QString& name)
{
    SignInSession* session = report->signInSession();
    if (!QTest::qWaitFor([session] { return session->isReady(); }, 10000))
        return false;
    QSignalSpy finished(session, &SignInSession::signInFinished);
    session->signIn(name, passwordOf(name));
    return finished.wait(10000) && session->user() && session->user()->name == name;
}

bool TestReportApproval::makeReport(Report* report)
{
    auto* list = report->findChild<QListWidget*>(QStringLiteral("listWidget"));
    report->slotConfigSelected(list->item(0));
    report->slotConfigSelected(list->item(2));
    report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))->click();
    auto* exitButton = report->findChild<QToolButton*>(QStringLiteral("toolButton_exit"));
    QDeadlineTimer deadline(30000);
    while (!exitButton->isEnabled() && !deadline.hasExpired())
        QTest::qWait(20);
    const QWebElement printed =
        report->reportFrame()->findFirstElement(QStringLiteral("span#printingTime"));
    while (report->isReportMade() && printed.toPlainText().isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    return report->isReportMade();
}

QString TestReportApproval::exportAndApprove(Report* report, const QString& path)
{
    report->desktop().saveFileName = [path](QWidget*, const QString&, const QString&,
                                            const QString&) { return path; };
    report->exportPrintPdf();
    opened.clear();
    QSignalSpy recorded(report, &Report::recorded);
    report->approveReport();
    if (!recorded.wait(30000) || !recorded.at(0).at(0).toBool() || opened.size() != 1) {
        qWarning() << recorded << opened;
        return QString();
    }
    return opened.first();
}

// The approval made once, by Supervisor "sam", of the daily report of 2026-01-09; a PDF of the
// same period exported unsigned beside it; and a second project with the same rows.
void TestReportApproval::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    projectFolder = dir.filePath(QStringLiteral("project"));
    otherProjectFolder = dir.filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(projectFolder) && QDir().mkpath(otherProjectFolder));
    QVERIFY(writeProjectWithUsers(projectFolder));
    QVERIFY(writeProjectWithUsers(otherProjectFolder));

    auto report = openWindow(projectFolder);
    QVERIFY(report);
    QVERIFY(signIn(report.get(), QStringLiteral("sam")));
    QVERIFY(makeReport(report.get()));
    remadePdf = dir.filePath(QStringLiteral("remade.pdf"));
    approvedCopy = exportAndApprove(report.get(), remadePdf);
    QVERIFY(!approvedCopy.isEmpty());
    QVERIFY(QFileInfo(remadePdf).size() > 0);
    const QString grabs = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!grabs.isEmpty())
        QFile::copy(approvedCopy, grabs + QStringLiteral("/approved-report.pdf"));
}

// Catches an approval whose recorded hash is not that of the file kept, a copy not kept beside
// the project under its period and hash, a PDF without the signature's manifestation, or a
// signature not bound to the approval.
void TestReportApproval::approvalRecorded()
{
    QByteArray sha;
    QString error;
    QVERIFY(ReportApprover::fileSha256(approvedCopy, &sha, &error));
    QCOMPARE(approvedCopy, projectFolder + QStringLiteral("/cold store-approved/daily-2026-01-09-") +
                               QString::fromLatin1(sha.left(12)) + QStringLiteral(".pdf"));
    SqliteConnection db;
    QVERIFY(db.openReadOnly(projectFolder + QLatin1Char('/') + kDatabase, 5000));
    QVector<ReportApprovalTable::Row> rows;
    QVERIFY(ReportApprovalTable::findByPdf(db.get(), sha, &rows, &error));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).kind, QStringLiteral("daily"));
    QCOMPARE(rows.at(0).periodFrom, localSecs(QStringLiteral("2026-01-09 00:00:00")));
    QCOMPARE(rows.at(0).periodTo, localSecs(QStringLiteral("2026-01-10 00:00:00")));
    QCOMPARE(rows.at(0).rows, qint64(2 * 24 * 60)); // the day's rows of both nodes, no more
    QCOMPARE(rows.at(0).copyPath, QStringLiteral("cold store-approved/") +
                                      QFileInfo(approvedCopy).fileName());

    QVector<ElectronicSignature> signatures;
    QVERIFY(SignatureTable::forRecord(db.get(), ReportApprovalTable::recordKind(),
                                      QString::number(rows.at(0).id), &signatures, &error));
    QCOMPARE(signatures.size(), 1);
    QCOMPARE(signatures.at(0).id, rows.at(0).signatureId);
    QCOMPARE(signatures.at(0).signer, QStringLiteral("sam"));
    QCOMPARE(signatures.at(0).meaning, QStringLiteral("approved"));

    const QString text = pdfText(approvedCopy);
    QVERIFY2(text.contains(QStringLiteral("Approved: ") + signatures.at(0).manifestation()),
             qPrintable(text));
    QVERIFY(QRegularExpression(QStringLiteral("Approved: sam, \\d{4}-\\d\\d-\\d\\d "
                                              "\\d\\d:\\d\\d:\\d\\d CES?T, approved"))
                .match(text)
                .hasMatch());
    // The unsigned export of the same report carries no approval.
    QVERIFY(!pdfText(remadePdf).contains(QStringLiteral("Approved:")));
}

void TestReportApproval::verifyReport_data()
{
    QTest::addColumn<QString>("file"); // "approved", "remade", or a path in the folder
    QTest::addColumn<QString>("project"); // "same" or "other"
    QTest::addColumn<QString>("tamper");  // SQL run on the copy's database first
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");

    const QString day = QString::number(localSecs(QStringLiteral("2026-01-09 00:00:00")));
    const QString next = QString::number(localSecs(QStringLiteral("2026-01-10 00:00:00")));
    QTest::newRow("the approved PDF")
        << "approved" << "same" << QString() << 0
        << "Result: an approved report of this project; its rows are unchanged";
    QTest::newRow("a PDF of the same period made again, unsigned")
        << "remade" << "same" << QString() << 1 << "Result: not an approved report";
    QTest::newRow("a sample row of the period changed")
        << "approved" << "same"
        << "update quorbinal set channel1 = channel1 + 0.5 where id = (select min(id) from "
           "quorbinal where pointDate >= " + day + ")"
        << 1 << "Rows: changed since the approval (2880 rows then, 2880 now)";
    QTest::newRow("a sample row of the period deleted")
        << "approved" << "same"
        << "delete from quorbinal where id = (select max(id) from quorbinal where pointDate < " +
               next + ")"
        << 1 << "Rows: changed since the approval (2880 rows then, 2879 now)";
    QTest::newRow("a row of the day after changed: not the period's")
        << "approved" << "same"
        << "update quorbinal set channel1 = 99 where pointDate >= " + next << 0
        << "Rows: 2880 rows in the period, unchanged since the approval";
    QTest::newRow("the approval's row changed after it was signed")
        << "approved" << "same" << "update report_approval set copyPath = 'elsewhere.pdf'" << 1
        << "Finding: The report approval 1 was changed after it was signed";
    QTest::newRow("the approved PDF checked against another project")
        << "approved" << "other" << QString() << 1 << "Result: not an approved report";
    QTest::newRow("a file that does not exist") << "missing.pdf" << "same" << QString() << 2
                                                << "cannot read the report";
    QTest::newRow("a project without its database")
        << "approved" << "same" << "DROP DATABASE" << 2 << "cannot read the database";
}

// Catches a check that trusts a file by its name or size, that misses rows changed, deleted
// or an approval row edited, that counts rows outside the period, or that passes a file of
// another project.
void TestReportApproval::verifyReport()
{
    QFETCH(QString, file);
    QFETCH(QString, project);
    QFETCH(QString, tamper);
    QFETCH(int, status);
    QFETCH(QString, says);
    // Each row on a copy of the project as it was approved.
    QTemporaryDir rowDir;
    const QString folder = rowDir.filePath(QStringLiteral("p"));
    QVERIFY(copyFolder(project == QLatin1String("same") ? projectFolder : otherProjectFolder,
                       folder));
    const QString database = folder + QLatin1Char('/') + kDatabase;
    if (tamper == QLatin1String("DROP DATABASE"))
        QVERIFY(QFile::remove(database));
    else if (!tamper.isEmpty())
        QVERIFY(execute(database, tamper));
    const QString path = file == QLatin1String("approved") ? approvedCopy
                         : file == QLatin1String("remade") ? remadePdf
                                                            : rowDir.filePath(file);
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    const int got =
        VerifyReportCommand::run(path, folder + QLatin1Char('/') + kProject, out, err);
    out.flush();
    err.flush();
    QCOMPARE(got, status);
    const QString both = outText + errText;
    QVERIFY2(both.contains(says), qPrintable(both));
    if (status == 0) {
        QVERIFY(outText.contains(QStringLiteral("Approved: the daily report of 2026-01-09 "
                                                "00:00:00 to 2026-01-10 00:00:00")));
        QVERIFY(outText.contains(QStringLiteral("Signed: ")));
    }
}

void TestReportApproval::refused_data()
{
    QTest::addColumn<QString>("user"); // signed in; empty for nobody
    QTest::addColumn<bool>("review");   // "Review..." instead of "Approve..."
    QTest::addColumn<QString>("message");
    QTest::newRow("an Operator approves")
        << "olga" << false << "This needs a Supervisor or an Administrator; olga is signed in "
                              "as Operator.";
    QTest::newRow("an Operator reviews")
        << "olga" << true << "This needs a Supervisor or an Administrator; olga is signed in "
                             "as Operator.";
    QTest::newRow("nobody signed in, the sign-in cancelled") << QString() << false << QString();
}

// Catches an approval or review signed by a role below Supervisor, or one asked for a
// signature without anyone allowed signed in.
void TestReportApproval::refused()
{
    QFETCH(QString, user);
    QFETCH(bool, review);
    QFETCH(QString, message);
    QTemporaryDir rowDir;
    QVERIFY(writeProjectWithUsers(rowDir.path()));
    auto report = openWindow(rowDir.path());
    QVERIFY(report);
    if (!user.isEmpty())
        QVERIFY(signIn(report.get(), user));
    else
        QVERIFY(QTest::qWaitFor([&] { return report->signInSession()->isReady(); }, 10000));
    QVERIFY(makeReport(report.get()));
    messages.clear();
    signaturesAsked = 0;
    report->desktop().askReview = [](QWidget*, QDate* from, QDate* to, QString* comment) {
        *from = *to = QDate(2026, 1, 9);
        *comment = QStringLiteral("seen");
        return true;
    };
    if (review)
        report->reviewAuditTrail();
    else
        report->approveReport();
    QTest::qWait(50);
    QCOMPARE(signaturesAsked, 0);
    QCOMPARE(messages.isEmpty(), message.isEmpty());
    if (!message.isEmpty())
        QVERIFY2(messages.first().contains(message), qPrintable(messages.join('\n')));
    QVERIFY(!report->isRecording());
    QVERIFY(!QFileInfo::exists(rowDir.filePath(QStringLiteral("cold store-approved"))));
    SqliteConnection db;
    QVERIFY(db.openReadOnly(rowDir.filePath(kDatabase), 5000));
    QVector<ElectronicSignature> none;
    QString error;
    QVERIFY(SignatureTable::forEach(
        db.get(), [&none](const ElectronicSignature& s) { none.append(s); }, &error));
    QCOMPARE(none.size(), 0);
}

void TestReportApproval::reviewListed_data()
{
    QTest::addColumn<QString>("start"); // of the audit trail report
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("listed");
    QTest::newRow("the days reviewed") << "2026-01-09" << "2026-01-10" << true;
    QTest::newRow("a week holding their first day") << "2026-01-03" << "2026-01-09" << true;
    QTest::newRow("the day after them") << "2026-01-11" << "2026-01-11" << false;
    QTest::newRow("the day before them") << "2026-01-08" << "2026-01-08" << false;
}

// Catches a review that is not recorded with its signature, or that the audit trail report
// lists for days it does not cover (or leaves out of days it does).
void TestReportApproval::reviewListed()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, listed);
    QTemporaryDir rowDir;
    QVERIFY(writeProjectWithUsers(rowDir.path()));
    auto report = openWindow(rowDir.path());
    QVERIFY(report);
    QVERIFY(signIn(report.get(), QStringLiteral("anna")));
    const QString comment = QStringLiteral("Night shift entries <checked> & good");
    report->desktop().askReview = [comment](QWidget*, QDate* from, QDate* to, QString* text) {
        *from = QDate(2026, 1, 9);
        *to = QDate(2026, 1, 10);
        *text = comment;
        return true;
    };
    QSignalSpy recorded(report.get(), &Report::recorded);
    report->reviewAuditTrail();
    QVERIFY(recorded.wait(30000));
    QVERIFY2(recorded.at(0).at(0).toBool(), qPrintable(recorded.at(0).at(1).toString()));
    report.reset();

    const QString pdf = rowDir.filePath(QStringLiteral("audit.pdf"));
    const ReportCommandLine line = ReportCommandLine::parse(
        {QStringLiteral("Tallyforge"), QStringLiteral("--report"), QStringLiteral("audit"),
         QStringLiteral("--start"), start, QStringLiteral("--end"), end, QStringLiteral("--pdf"),
         pdf, rowDir.filePath(kProject)});
    QCOMPARE(int(line.mode), int(ReportCommandLine::Audit));
    QString error;
    QCOMPARE(AuditReport(line).write(&error), 0);
    const QString text = pdfText(pdf).simplified();
    QVERIFY2(text.contains(QStringLiteral("Reviews of the audit trail")), qPrintable(text));
    QCOMPARE(text.contains(QStringLiteral("2026-01-09 to 2026-01-10")), listed);
    QCOMPARE(text.contains(comment), listed);
    QCOMPARE(QRegularExpression(QStringLiteral("anna, \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                               "CES?T, reviewed"))
                 .match(text)
                 .hasMatch(),
             listed);
}

void TestReportApproval::approvalBelowContent_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("weekly") << int(ReportKind::Weekly);
    QTest::newRow("HACCP") << int(ReportKind::Haccp);
    QTest::newRow("monthly") << int(ReportKind::Monthly);
}

// Catches an approval that covers or drops part of the report, or whose line is not on the
// last page.
void TestReportApproval::approvalBelowContent()
{
    QFETCH(int, kind);
    QTemporaryDir rowDir;
    QVERIFY(writeProjectWithUsers(rowDir.path()));
    auto report = openWindow(rowDir.path(), ReportKind(kind));
    QVERIFY(report);
    QVERIFY(signIn(report.get(), QStringLiteral("sam")));
    QVERIFY(makeReport(report.get()));
    const QString unsigned_ = rowDir.filePath(QStringLiteral("unsigned.pdf"));
    const QString approved = exportAndApprove(report.get(), unsigned_);
    QVERIFY(!approved.isEmpty());
    QVERIFY(QFileInfo(approved).fileName().startsWith(ReportPeriod::kindName(ReportKind(kind))));
    const QString grabs = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!grabs.isEmpty())
        QFile::copy(approved, grabs + QStringLiteral("/approved-") +
                                  ReportPeriod::kindName(ReportKind(kind)) + QStringLiteral(".pdf"));

    const QString before = pdfText(unsigned_);
    const QString after = pdfText(approved);
    const int pages = before.count(QLatin1Char('\f'));
    const int approvedPages = after.count(QLatin1Char('\f'));
    QVERIFY2(approvedPages == pages || approvedPages == pages + 1,
             qPrintable(QStringLiteral("%1 pages, approved %2").arg(pages).arg(approvedPages)));
    QVERIFY(pdfText(approved, approvedPages, approvedPages).contains(QStringLiteral("Approved: sam, ")));
    // Everything else is the report as exported without the signature.
    QString rest = after;
    rest.remove(QRegularExpression(QStringLiteral("Approved: sam, [^\n]*approved")));
    rest.remove(QLatin1Char('\f'));
    QString plain = before;
    plain.remove(QLatin1Char('\f'));
    QCOMPARE(rest.simplified(), plain.simplified());
}

void TestReportApproval::commitFails_data()
{
    QTest::addColumn<QString>("setUp"); // SQL run on the project's database first
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("says");
    QTest::newRow("nothing in the way") << QString() << true << QString();
    QTest::newRow("the approval's row refused")
        << "create table report_approval (id integer primary key, kind text, periodFrom integer, "
           "periodTo integer, pdfSha256 text, rowsDigest text, rows integer, copyPath text, "
           "signatureId integer default 0, time integer); create trigger refuse before insert on "
           "report_approval begin select raise(abort, 'no approvals here'); end"
        << false << "no approvals here";
    QTest::newRow("the signature refused")
        << "SIGNATURE TABLE; create trigger refuse before insert on signature begin select "
           "raise(abort, 'no signatures here'); end"
        << false << "no signatures here";
}

// Catches a copy left beside the project, or a row or signature left in the database, for an
// approval whose record could not be written.
void TestReportApproval::commitFails()
{
    QFETCH(QString, setUp);
    QFETCH(bool, ok);
    QFETCH(QString, says);
    QTemporaryDir rowDir;
    QVERIFY(writeProjectWithUsers(rowDir.path()));
    const QString database = rowDir.filePath(kDatabase);
    QString sql = setUp;
    if (sql.startsWith(QLatin1String("SIGNATURE TABLE;"))) {
        SqliteConnection connection;
        QString error;
        QVERIFY(UserTable::open(&connection, database, 5000, &error));
        QVERIFY2(SignatureTable::ensureTable(connection.get(), &error), qPrintable(error));
        sql = sql.mid(int(qstrlen("SIGNATURE TABLE;")));
    }
    if (!sql.isEmpty())
        QVERIFY(execute(database, sql));
    const QString pdf = rowDir.filePath(QStringLiteral("rendered.pdf"));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4 a report rendered with its approval\n");
    file.close();

    ReportApprover::Request request;
    request.projectPath = rowDir.filePath(kProject);
    request.kind = ReportKind::Daily;
    request.periodFrom = localSecs(QStringLiteral("2026-01-09 00:00:00"));
    request.periodTo = localSecs(QStringLiteral("2026-01-10 00:00:00"));
    request.pdfPath = pdf;
    request.grant = {QStringLiteral("sam"), QStringLiteral("sam"),
                     QDateTime::currentMSecsSinceEpoch()};
    ReportApprover::Outcome outcome;
    QString error;
    QCOMPARE(ReportApprover::approve(request, &outcome, &error), ok);
    const QStringList kept = QDir(ReportApprover::copyFolder(request.projectPath))
                                 .entryList(QDir::Files | QDir::Hidden);
    SqliteConnection db;
    QVERIFY(db.openReadOnly(database, 5000));
    int signatures = 0;
    QVERIFY(SignatureTable::forEach(
        db.get(), [&signatures](const ElectronicSignature&) { ++signatures; }, &error));
    if (ok) {
        QCOMPARE(kept, QStringList{QFileInfo(outcome.copyPath).fileName()});
        QCOMPARE(signatures, 1);
        QCOMPARE(outcome.row.rows, qint64(2 * 24 * 60));
        return;
    }
    QVERIFY2(error.contains(says) && error.contains(QStringLiteral("the copy was removed")),
             qPrintable(error));
    QCOMPARE(kept, QStringList());
    QCOMPARE(signatures, 0);
    // Rolled back whole: the table too, when the approval made it.
    const bool table = DatabasePeek::scalar(database, QStringLiteral(
                                                          "select count(*) from sqlite_master "
                                                          "where name = 'report_approval'")) == 1;
    QCOMPARE(table ? DatabasePeek::scalar(database,
                                          QStringLiteral("select count(*) from report_approval"))
                   : 0,
             qint64(0));
}

void TestReportApproval::signatureDialog_data()
{
    QTest::addColumn<QString>("user");      // typed into the dialog
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("approved");
    QTest::newRow("the signed-in Supervisor's password") << "sam" << passwordOf("sam") << true;
    QTest::newRow("a wrong password") << "sam" << QByteArray("not-it") << false;
    QTest::newRow("another user's id and password") << "anna" << passwordOf("anna") << false;
}

// Catches a window whose own Signature dialog does not lead to the approval, or whose approval
// goes ahead on a signature the session refused.
void TestReportApproval::signatureDialog()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, password);
    QFETCH(bool, approved);
    QTemporaryDir rowDir;
    QVERIFY(writeProjectWithUsers(rowDir.path()));
    auto report = openWindow(rowDir.path(), ReportKind::Daily, true);
    QVERIFY(report);
    QVERIFY(signIn(report.get(), QStringLiteral("sam")));
    QVERIFY(makeReport(report.get()));
    QSignalSpy recorded(report.get(), &Report::recorded);
    report->approveReport();
    SignatureDialog* dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = report->findChild<SignatureDialog*>()) != nullptr, 5000);
    QVERIFY(dialog->isVisible());
    const QString grabs = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!grabs.isEmpty() && approved)
        dialog->grab().save(grabs + QStringLiteral("/tallyforge-approve-signature.png"));
    dialog->userField()->setText(user);
    dialog->passwordField()->setText(QString::fromLatin1(password));
    dialog->confirm();
    if (approved) {
        QVERIFY(recorded.wait(30000));
        QVERIFY2(recorded.at(0).at(0).toBool(), qPrintable(recorded.at(0).at(1).toString()));
        QVERIFY(!pdfText(opened.last()).isEmpty());
        QVERIFY(QFileInfo(opened.last()).path().endsWith(QStringLiteral("cold store-approved")));
        return;
    }
    // Refused: the dialog stays open and says so; nothing is recorded.
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->message().isEmpty() &&
                                 dialog->message() != QStringLiteral("Checking..."),
                             10000);
    QVERIFY(dialog->isVisible());
    QVERIFY(!recorded.wait(300));
    QVERIFY(!QFileInfo::exists(rowDir.filePath(QStringLiteral("cold store-approved"))));
}

QTEST_MAIN(TestReportApproval)
#include "tst_reportapproval.moc"
