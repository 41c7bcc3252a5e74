// The recorder's headless users command, run as a process on temporary projects: several
// projects at once, passwords from the standard input, sign-in refused, recovery.

#include "sqliteprogram.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QByteArray AnnaPassword = "anna-password-1";
const QByteArray BobPassword = "bob-password-22";

struct Run
{
    int exitCode = -1;
    QString output;
    QString error;
};

} // namespace

class TestUsersCommand : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commandLine_data();
    void commandLine();

private:
    Run run(const QStringList& arguments, const QByteArray& input);
    QString query(const QString& project, const QString& sql);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestUsersCommand::init()
{
    dir = std::make_unique<QTemporaryDir>();
    for (const char* name : {"A", "B"}) {
        QFile project(dir->filePath(QLatin1String(name) + QStringLiteral(".tpc")));
        QVERIFY(project.open(QIODevice::WriteOnly));
        project.write(QByteArray("[General]\nprojectName=") + name + "\ndatabaseName=" + name +
                      ".dat\n");
        project.close();
        // An empty file is an empty database, as a project's is before its first recording.
        QFile database(dir->filePath(QLatin1String(name) + QStringLiteral(".dat")));
        QVERIFY(database.open(QIODevice::WriteOnly));
    }
}

Run TestUsersCommand::run(const QStringList& arguments, const QByteArray& input)
{
    QStringList args{QStringLiteral("--users")};
    for (const QString& a : arguments) {
        // A, B, C stand for the projects (C has no files).
        args << (a.size() == 1 && a.at(0) >= QLatin1Char('A') && a.at(0) <= QLatin1Char('C')
                     ? dir->filePath(a + QStringLiteral(".tpc"))
                     : a);
    }
    QProcess process;
    process.start(QStringLiteral(RECORDER_PROGRAM), args);
    Run result;
    if (!process.waitForStarted(10000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    result.error = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QString TestUsersCommand::query(const QString& project, const QString& sql)
{
    QString out;
    if (!SqliteProgram::run(dir->filePath(project + QStringLiteral(".dat")), sql, &out))
        return QStringLiteral("(none)");
    return out.trimmed();
}

void TestUsersCommand::commandLine_data()
{
    // 0: no users; 1: anna, Administrator; 2: and bob, Operator; 3: anna, with another password
    // in B; 4: anna, and B's database belongs to another computer account; 5: anna, with her
    // full name
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("shown"); // in the output, or in the errors when it failed
    // The newest audit entry of both projects, or of A and B apart: "A's / B's".
    QTest::addColumn<QString>("lastAction");
    QTest::addColumn<QString>("users"); // the users of both projects as stored

    const QString as = QStringLiteral("--as");
    const QString reason = QStringLiteral("--reason");
    QTest::newRow("first Administrator of two projects, no sign-in")
        << 0 << QStringList{"A", "B", "add", "anna", "Administrator"} << AnnaPassword + '\n'
        << 0 << QStringLiteral("B.tpc: add anna: done") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0");
    QTest::newRow("the first user must be an Administrator")
        << 0 << QStringList{"A", "B", "add", "bob", "Operator"} << BobPassword + '\n'
        << 1 << QStringLiteral("A.tpc: access control is off; add an Administrator first.")
        << QStringLiteral("(none)") << QString();
    QTest::newRow("Operator added to two projects, passwords from stdin")
        << 1 << QStringList{"A", "B", "add", "bob", "operator", as, "anna", reason, "new starter"}
        << AnnaPassword + '\n' + BobPassword + '\n'
        << 0 << QStringLiteral("A.tpc: add bob: done") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0\nbob|Operator|0");
    QTest::newRow("wrong Administrator password: no project changed")
        << 1 << QStringList{"A", "B", "add", "bob", "Operator", as, "anna", reason, "x"}
        << "wrong-password-0\n" + BobPassword + '\n'
        << 1 << QStringLiteral("B.tpc: The name or the password is wrong.")
        << QStringLiteral("sign-in failed") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("one project refuses the sign-in: the other is not changed either")
        << 3 << QStringList{"A", "B", "add", "bob", "Operator", as, "anna", reason, "x"}
        << AnnaPassword + '\n' + BobPassword + '\n'
        << 1 << QStringLiteral("B.tpc: The name or the password is wrong.")
        << QStringLiteral("signed in / sign-in failed") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("an Operator may not manage users")
        << 2 << QStringList{"A", "B", "disable", "anna", as, "bob", reason, "x"}
        << BobPassword + '\n'
        << 1 << QStringLiteral("A.tpc: bob is not an Administrator.") << QStringLiteral("signed in")
        << QStringLiteral("anna|Administrator|0\nbob|Operator|0");
    QTest::newRow("a leaver disabled in two projects")
        << 2 << QStringList{"A", "B", "disable", "bob", as, "anna", reason, "left the company"}
        << AnnaPassword + '\n'
        << 0 << QStringLiteral("B.tpc: disable bob: done") << QStringLiteral("user disabled")
        << QStringLiteral("anna|Administrator|0\nbob|Operator|1");
    QTest::newRow("under access control a sign-in is needed")
        << 1 << QStringList{"A", "add", "bob", "Operator", reason, "x"} << QByteArray() << 2
        << QStringLiteral("sign in as an Administrator with --as NAME")
        << QStringLiteral("user added") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a password as an argument is refused")
        << 1 << QStringList{"A", "add", "bob", "Operator", BobPassword, as, "anna"}
        << AnnaPassword + '\n'
        << 2 << QStringLiteral("add takes 2 word(s) after it.") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a new password too short")
        << 1 << QStringList{"A", "B", "reset", "anna", as, "anna", reason, "x"}
        << AnnaPassword + "\nshort-pw\n"
        << 1 << QStringLiteral("The password must have at least 10 characters.")
        << QStringLiteral("signed in") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("list of two projects")
        << 2 << QStringList{"A", "B", "list", as, "anna"} << AnnaPassword + '\n'
        << 0 << QStringLiteral("B.tpc:\n  anna\tAdministrator\tenabled\n  bob\tOperator\tenabled\n")
        << QStringLiteral("signed in") << QStringLiteral("anna|Administrator|0\nbob|Operator|0");
    QTest::newRow("recovery by the account that owns the files")
        << 1 << QStringList{"A", "B", "recover", "anna", reason, "password lost"}
        << QByteArray("anna-recovered-2\n") << 0 << QStringLiteral("A.tpc: recover anna: done")
        << QStringLiteral("access recovered") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("recovery refused to an account that does not own the files")
        << 4 << QStringList{"A", "B", "recover", "anna", reason, "password lost"}
        << QByteArray("anna-recovered-2\n") << 1
        << QStringLiteral("B.dat does not belong to the computer account")
        << QStringLiteral("user added") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("recovery needs a reason")
        << 1 << QStringList{"A", "recover", "anna"} << QByteArray("anna-recovered-2\n") << 2
        << QStringLiteral("A recovery needs a reason") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a project without files: no project changed")
        << 1 << QStringList{"A", "C", "add", "bob", "Operator", as, "anna", reason, "x"}
        << AnnaPassword + '\n' + BobPassword + '\n'
        << 1 << QStringLiteral("C.tpc: no project file with its database beside it.")
        << QStringLiteral("user added") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a full name given when adding, listed")
        << 5 << QStringList{"A", "B", "list", as, "anna"} << AnnaPassword + '\n' << 0
        << QStringLiteral("B.tpc:\n  anna\tAdministrator\tenabled\tAnna \u00c5berg\n")
        << QStringLiteral("signed in") << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a full name with a line break is refused")
        << 1 << QStringList{"A", "add", "bob", "Operator", "--full-name", "Bob\nAdministrator",
                            as, "anna", reason, "x"}
        << AnnaPassword + '\n' + BobPassword + '\n' << 2
        << QStringLiteral("A full name has no control characters.") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0");
    QTest::newRow("a full name with another verb is refused")
        << 2 << QStringList{"A", "disable", "bob", "--full-name", "Bob Brandt", as, "anna",
                            reason, "x"}
        << AnnaPassword + '\n' << 2 << QStringLiteral("--full-name goes with add.")
        << QStringLiteral("user added") << QStringLiteral("anna|Administrator|0\nbob|Operator|0");
    QTest::newRow("an unknown role")
        << 1 << QStringList{"A", "add", "bob", "Boss", as, "anna"} << AnnaPassword + '\n'
        << 2 << QStringLiteral("Unknown role Boss") << QStringLiteral("user added")
        << QStringLiteral("anna|Administrator|0");
}

// Catches: a project left out of a command for several, a change made in one project while
// another refused the sign-in, a wrong or an Operator's password accepted, a password taken
// from the arguments, a first user who is not an Administrator, a recovery that is not
// recorded, a password or a hash printed.
void TestUsersCommand::commandLine()
{
    QFETCH(int, setup);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QString, shown);
    QFETCH(QString, lastAction);
    QFETCH(QString, users);
    if (setup >= 1) {
        QStringList add{"A", "B", "add", "anna", "Administrator"};
        if (setup == 5)
            add << "--full-name" << QStringLiteral("Anna \u00c5berg");
        const Run first = run(add, AnnaPassword + '\n');
        QVERIFY2(first.exitCode == 0, qPrintable(first.error));
    }
    if (setup == 4) {
        // Only root may give a file away; the account running the test otherwise owns it.
        if (::geteuid() != 0)
            QSKIP("giving a file to another account needs root");
        QVERIFY(::chown(QFile::encodeName(dir->filePath(QStringLiteral("B.dat"))).constData(),
                        65534, gid_t(-1)) == 0);
    }
    if (setup == 3) {
        const Run other = run({"B", "reset", "anna", "--as", "anna", "--reason", "other"},
                              AnnaPassword + "\nanna-other-password-3\n");
        QVERIFY2(other.exitCode == 0, qPrintable(other.error));
    }
    if (setup == 2) {
        const Run second =
            run({"A", "B", "add", "bob", "Operator", "--as", "anna", "--reason", "night shift"},
                AnnaPassword + '\n' + BobPassword + '\n');
        QVERIFY2(second.exitCode == 0, qPrintable(second.error));
    }
    const Run result = run(arguments, input);
    QTEST(result.exitCode, "exitCode");
    const QString printed = result.exitCode == 0 ? result.output : result.error;
    QVERIFY2(printed.contains(shown), qPrintable(result.output + result.error));
    const QString everything = result.output + result.error;
    for (const char* secret : {"$argon2", "anna-password", "bob-password", "anna-recovered",
                               "wrong-password", "short-pw", "anna-other"})
        QVERIFY2(!everything.contains(QLatin1String(secret)), qPrintable(everything));
    const QStringList lastActions = lastAction.split(QStringLiteral(" / "));
    for (const QString& project : {QStringLiteral("A"), QStringLiteral("B")}) {
        QCOMPARE(query(project, QStringLiteral("select action from audit_trail order by "
                                               "sequence desc limit 1")),
                 project == QLatin1String("B") ? lastActions.last() : lastActions.first());
        const QString stored = query(project, QStringLiteral("select name, role, disabled from "
                                                             "users order by name"));
        QCOMPARE(stored == QLatin1String("(none)") ? QString() : stored, users);
    }
}

QTEST_GUILESS_MAIN(TestUsersCommand)
#include "tst_userscommand.moc"
