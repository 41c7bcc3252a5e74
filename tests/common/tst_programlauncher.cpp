#include "programlauncher.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestProgramLauncher : public QObject
{
    Q_OBJECT

private slots:
    void resolveOrder();
    void argumentsKeepPath_data();
    void argumentsKeepPath();
};

// Catches: a program on PATH preferred to the one installed beside the recorder.
void TestProgramLauncher::resolveOrder()
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

void TestProgramLauncher::argumentsKeepPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "data";
    QTest::newRow("two blanks and an apostrophe") << "Plant's  data";
    QTest::newRow("leading blank and double quote") << " \"a\" b";
}

// Catches: a project path split at blanks or stripped of its apostrophes on the way to the
// report generator.
void TestProgramLauncher::argumentsKeepPath()
{
    QFETCH(QString, folder);
    QTemporaryDir own;
    QVERIFY(QDir(own.path()).mkpath(folder));
    const QString project = own.filePath(folder + QStringLiteral("/x.tpc"));
    const QString out = own.filePath(QStringLiteral("args.txt"));
    QFile script(own.filePath(QStringLiteral("Tallyforge")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(
        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\n"
                       "mv '%1.tmp' '%1'\n")
            .arg(out)
            .toLocal8Bit());
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

QTEST_GUILESS_MAIN(TestProgramLauncher)
#include "tst_programlauncher.moc"
