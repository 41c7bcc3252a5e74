// When the daily backup is due, and how its age reads in the status bar, on local times of a
// zone with summer time (the test runs under TZ=Europe/Berlin). Each row names the fault it
// would catch.
#include "backupscheduler.h"

#include <QtTest>

class TestBackupScheduler : public QObject
{
    Q_OBJECT

private slots:
    void isDue_data();
    void isDue();
    void ageText_data();
    void ageText();
};

namespace {

QDateTime local(const QString& text)
{
    return text.isEmpty() ? QDateTime()
                          : QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm"));
}

} // namespace

void TestBackupScheduler::isDue_data()
{
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("time"); // the backup time of day
    QTest::addColumn<QString>("lastGood");
    QTest::addColumn<QString>("lastFailure");
    QTest::addColumn<bool>("due");

    QTest::newRow("no copy yet, the time has come") << "2026-12-09 02:00" << "02:00" << ""
                                                    << "" << true;
    QTest::newRow("yesterday's copy, today's time not come yet")
        << "2026-12-09 01:59" << "02:00" << "2026-12-08 02:01" << "" << false;
    QTest::newRow("yesterday's copy, today's time has come")
        << "2026-12-09 02:00" << "02:00" << "2026-12-08 02:01" << "" << true;
    QTest::newRow("the recorder was off at the time: the copy is taken at the next start")
        << "2026-12-09 08:30" << "02:00" << "2026-12-07 02:02" << "" << true;
    QTest::newRow("a copy taken at a late start before the time: not twice that day")
        << "2026-12-09 03:00" << "02:00" << "2026-12-09 01:30" << "" << false;
    QTest::newRow("a failure a minute ago: no retry yet")
        << "2026-12-09 02:01" << "02:00" << "2026-12-08 02:01" << "2026-12-09 02:00" << false;
    QTest::newRow("a failure an hour ago: tried again")
        << "2026-12-09 03:00" << "02:00" << "2026-12-08 02:01" << "2026-12-09 02:00" << true;
    QTest::newRow("the clock set back behind the failure: tried again")
        << "2026-12-09 02:30" << "02:00" << "2026-12-08 02:01" << "2026-12-09 04:00" << true;
    // 2026-03-29 02:00 to 03:00 does not exist in Berlin.
    QTest::newRow("spring forward: a time in the missing hour still comes that day")
        << "2026-03-29 03:30" << "02:30" << "2026-03-28 02:30" << "" << true;
    QTest::newRow("spring forward: before the missing hour it has not come")
        << "2026-03-29 01:59" << "02:30" << "2026-03-28 02:30" << "" << false;
    // 2026-10-25 02:00 to 03:00 comes twice.
    QTest::newRow("fall back: the day's copy once, though its hour comes twice")
        << "2026-10-25 02:45" << "02:30" << "2026-10-25 02:31" << "" << false;
}

void TestBackupScheduler::isDue()
{
    QFETCH(QString, now);
    QFETCH(QString, time);
    QFETCH(QString, lastGood);
    QFETCH(QString, lastFailure);
    QFETCH(bool, due);
    QVERIFY(local(now).isValid());
    QCOMPARE(BackupScheduler::isDue(local(now), BackupSettings::parseTime(time), local(lastGood),
                                    local(lastFailure)),
             due);
}

void TestBackupScheduler::ageText_data()
{
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("text");

    QTest::newRow("minutes") << "2026-12-09 02:00" << "2026-12-09 02:25" << "25 min ago";
    QTest::newRow("hours over the fall-back night count the real hours")
        << "2026-10-25 01:00" << "2026-10-25 04:00" << "4 h ago";
    QTest::newRow("hours over the spring-forward night count the real hours")
        << "2026-03-29 01:00" << "2026-03-29 04:00" << "2 h ago";
    QTest::newRow("days after two") << "2026-12-01 02:00" << "2026-12-09 02:00" << "8 days ago";
    QTest::newRow("a file from the future (clock set back) reads as just now")
        << "2026-12-09 05:00" << "2026-12-09 02:00" << "just now";
}

void TestBackupScheduler::ageText()
{
    QFETCH(QString, then);
    QFETCH(QString, now);
    QFETCH(QString, text);
    QCOMPARE(BackupScheduler::ageText(local(then), local(now)), text);
}

QTEST_GUILESS_MAIN(TestBackupScheduler)
#include "tst_backupscheduler.moc"
