// The backup keys of a project file as written by hand: each read, or refused with a problem
// and its default, and never made into something else (a relative folder, a list).
#include "backupsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestBackupSettings : public QObject
{
    Q_OBJECT

private slots:
    void keys_data();
    void keys();
};

void TestBackupSettings::keys_data()
{
    QTest::addColumn<QString>("lines"); // written into the project file by hand
    QTest::addColumn<QString>("described");
    QTest::addColumn<int>("problems");

    QTest::newRow("no keys: off, the defaults")
        << "" << "Backup folder: (none, backups off)|Backup time: 02:00|Backups kept: 14 daily, "
                 "24 monthly, 10 yearly"
        << 0;
    QTest::newRow("every key; a folder with a comma is read as written, not as a list")
        << "BackupFolder=/mnt/a, b\nBackupTime=4:05\nBackupKeepDaily=7\nBackupKeepMonthly=0\n"
           "BackupKeepYearly=5\n"
        << "Backup folder: /mnt/a, b|Backup time: 04:05|Backups kept: 7 daily, 0 monthly, 5 "
           "yearly"
        << 0;
    QTest::newRow("a relative folder is refused, not made relative to the program")
        << "BackupFolder=../elsewhere\n"
        << "Backup folder: (none, backups off)|Backup time: 02:00|Backups kept: 14 daily, 24 "
           "monthly, 10 yearly"
        << 1;
    QTest::newRow("hostile numbers read as the defaults")
        << "BackupTime=25:00\nBackupKeepDaily=0\nBackupKeepMonthly=-3\nBackupKeepYearly=1e9\n"
        << "Backup folder: (none, backups off)|Backup time: 02:00|Backups kept: 14 daily, 24 "
           "monthly, 10 yearly"
        << 4;
}

void TestBackupSettings::keys()
{
    QFETCH(QString, lines);
    QFETCH(QString, described);
    QFETCH(int, problems);

    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("p.tpc"));
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nprojectName=p\n" + lines.toUtf8());
    file.close();
    const BackupSettings settings = BackupSettings::load(project);
    QCOMPARE(settings.describe().join(QLatin1Char('|')), described);
    QCOMPARE(settings.keyProblems.size(), problems);
}

QTEST_GUILESS_MAIN(TestBackupSettings)
#include "tst_backupsettings.moc"
