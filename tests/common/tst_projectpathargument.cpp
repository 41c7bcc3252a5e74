#include "projectpathargument.h"

#include <QTest>

class TestProjectPathArgument : public QObject
{
    Q_OBJECT

private slots:
    void unquote_data();
    void unquote();
    void roundTrip_data();
    void roundTrip();
};

void TestProjectPathArgument::unquote_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::newRow("one quoted argument")
        << QStringList{QStringLiteral("'/data/p.tpc'")} << QStringLiteral("/data/p.tpc");
    QTest::newRow("unquoted") << QStringList{QStringLiteral("/data/p.tpc")}
                              << QStringLiteral("/data/p.tpc");
    QTest::newRow("split at blanks")
        << QStringList{QStringLiteral("'/data/my"), QStringLiteral("cold"),
                       QStringLiteral("rooms/p.tpc'")}
        << QStringLiteral("/data/my cold rooms/p.tpc");
    QTest::newRow("two blanks give an empty argument")
        << QStringList{QStringLiteral("'/data/a"), QString(), QStringLiteral("b.tpc'")}
        << QStringLiteral("/data/a  b.tpc");
    QTest::newRow("backslashes") << QStringList{QStringLiteral("'C:\\Users\\lab\\p.tpc'")}
                                 << QStringLiteral("C:/Users/lab/p.tpc");
    QTest::newRow("apostrophe in a folder") << QStringList{QStringLiteral("'/home/o'brien/p.tpc'")}
                                            << QStringLiteral("/home/o'brien/p.tpc");
    QTest::newRow("apostrophe and blanks")
        << QStringList{QStringLiteral("'/data/Lab's"), QStringLiteral("freezer/it's.tpc'")}
        << QStringLiteral("/data/Lab's freezer/it's.tpc");
    QTest::newRow("only quotes") << QStringList{QStringLiteral("''")} << QString();
    QTest::newRow("a lone quote") << QStringList{QStringLiteral("'")} << QString();
}

// Catches a rejoin that drops blanks, keeps backslashes or strips apostrophes inside the path.
void TestProjectPathArgument::unquote()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QCOMPARE(ProjectPathArgument::unquote(arguments), path);
}

void TestProjectPathArgument::roundTrip_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("received");
    QTest::newRow("plain") << "/data/p.tpc"
                           << "/data/p.tpc";
    QTest::newRow("blanks") << "/data/my cold rooms/p q.tpc"
                            << "/data/my cold rooms/p q.tpc";
    QTest::newRow("blanks in a row and at the ends of a name") << "/data/ a  b /p.tpc"
                                                               << "/data/ a  b /p.tpc";
    QTest::newRow("apostrophes inside") << "/home/o'brien/Lab's freezer/it's.tpc"
                                        << "/home/o'brien/Lab's freezer/it's.tpc";
    QTest::newRow("apostrophe first and last") << "'/data/p.tpc'"
                                               << "'/data/p.tpc'";
    QTest::newRow("double quotes") << "/data/\"a\" b/p.tpc"
                                   << "/data/\"a\" b/p.tpc";
    QTest::newRow("backslashes become slashes") << "C:\\Users\\lab\\p.tpc"
                                                << "C:/Users/lab/p.tpc";
    QTest::newRow("backslashes, blanks and quotes") << "C:\\Lab's \"cold\"\\  x.tpc"
                                                    << "C:/Lab's \"cold\"/  x.tpc";
}

// Catches the two ends of the command line drifting apart: a path that the sending side quotes
// and the receiving side does not restore, whether it arrives as one argument or cut at blanks.
void TestProjectPathArgument::roundTrip()
{
    QFETCH(QString, path);
    QFETCH(QString, received);
    const QString quoted = ProjectPathArgument::quote(path);
    QCOMPARE(ProjectPathArgument::unquote({quoted}), received);
    QCOMPARE(ProjectPathArgument::unquote(quoted.split(QLatin1Char(' '))), received);
}

QTEST_GUILESS_MAIN(TestProjectPathArgument)
#include "tst_projectpathargument.moc"
