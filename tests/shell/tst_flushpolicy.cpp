#include "flushpolicy.h"
#include "programlauncher.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

struct Tick
{
    qint64 atMs;
    int pending;
    bool due;
};
Q_DECLARE_METATYPE(QVector<Tick>)

class TestFlushPolicy : public QObject
{
    Q_OBJECT

private slots:
    void ticks_data();
    void ticks();
    void failedFlushStaysDue();
    void resolveOrder();
    void argumentsKeepPath_data();
    void argumentsKeepPath();
};

void TestFlushPolicy::ticks_data()
{
    QTest::addColumn<int>("gateways");
    QTest::addColumn<QVector<Tick>>("ticks");
    QTest::newRow("one gateway: 7 waits, 8 writes")
        << 1 << QVector<Tick>{{0, 7, false}, {1500, 7, false}, {3000, 8, true}};
    QTest::newRow("two gateways: 15 waits, 16 writes")
        << 2 << QVector<Tick>{{0, 8, false}, {1500, 15, false}, {3000, 16, true}};
    QTest::newRow("no gateway counts as one") << 0 << QVector<Tick>{{0, 8, true}};
    QTest::newRow("10-minute interval: one sample flushed within a minute")
        << 1
        << QVector<Tick>{{0, 0, false}, {1500, 1, false}, {57000, 1, false}, {60000, 1, true}};
    QTest::newRow("age counts from the first waiting sample")
        << 3
        << QVector<Tick>{{0, 1, false}, {30000, 0, false}, {31500, 2, false}, {88500, 2, false},
                         {90000, 2, true}};
}

// Catches: samples kept in memory for up to 80 minutes, or batches written below the threshold.
void TestFlushPolicy::ticks()
{
    QFETCH(int, gateways);
    QFETCH(QVector<Tick>, ticks);
    FlushPolicy policy;
    for (const Tick& tick : ticks) {
        QCOMPARE(policy.due(tick.pending, gateways, tick.atMs), tick.due);
        if (tick.due)
            policy.flushed(0);
    }
}

// Catches: a batch that failed to write waiting another minute before the next attempt.
void TestFlushPolicy::failedFlushStaysDue()
{
    FlushPolicy policy;
    QVERIFY(!policy.due(1, 1, 0));
    QVERIFY(policy.due(1, 1, 58500));
    policy.flushed(1);
    QVERIFY(policy.due(1, 1, 60000));
    policy.flushed(0);
    QVERIFY(!policy.due(1, 1, 61500));
    policy.reset();
    QCOMPARE(policy.firstSeen(), qint64(-1));
}

// Catches: a program on PATH preferred to the one installed beside the recorder.
void TestFlushPolicy::resolveOrder()
{
    QTemporaryDir own;
    QTemporaryDir path;
    auto makeProgram = [](const QString& file) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    };
    makeProgram(path.filePath(QStringLiteral("Tallyforge")));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", path.path().toLocal8Bit());
    QCOMPARE(ProgramLauncher::resolve(QStringLiteral("Tallyforge"), own.path()),
             path.filePath(QStringLiteral("Tallyforge")));
    makeProgram(own.filePath(QStringLiteral("Tallyforge")));
    QCOMPARE(ProgramLauncher::resolve(QStringLiteral("Tallyforge"), own.path()),
             own.filePath(QStringLiteral("Tallyforge")));
    QVERIFY(ProgramLauncher::resolve(QStringLiteral("Trendscope"), own.path()).isEmpty());
    QVERIFY(!ProgramLauncher::start(QStringLiteral("Trendscope"), QStringLiteral("/x.tpc"),
                                    own.path()));
    qputenv("PATH", oldPath);
}

void TestFlushPolicy::argumentsKeepPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "data";
    QTest::newRow("two blanks and an apostrophe") << "Plant's  data";
    QTest::newRow("leading blank and double quote") << " \"a\" b";
}

// Catches: a project path split at blanks or stripped of its apostrophes on the way to the
// report generator.
void TestFlushPolicy::argumentsKeepPath()
{
    QFETCH(QString, folder);
    QTemporaryDir own;
    QVERIFY(QDir(own.path()).mkpath(folder));
    const QString project = own.filePath(folder + QStringLiteral("/x.tpc"));
    const QString out = own.filePath(QStringLiteral("args.txt"));
    QFile script(own.filePath(QStringLiteral("Tallyforge")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\n"
                                "mv '%1.tmp' '%1'\n").arg(out).toLocal8Bit());
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner);

    QCOMPARE(ProgramLauncher::commandText(QStringLiteral("Tallyforge"), project),
             QStringLiteral("Tallyforge '") + project + QLatin1Char('\''));
    QVERIFY(ProgramLauncher::start(QStringLiteral("Tallyforge"), project, own.path()));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    QFile result(out);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(result.readAll()),
             QLatin1Char('\'') + project + QStringLiteral("'\n"));
}

QTEST_GUILESS_MAIN(TestFlushPolicy)
#include "tst_flushpolicy.moc"
