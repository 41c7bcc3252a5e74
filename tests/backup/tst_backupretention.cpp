// Which of a project's backup copies the retention keeps and deletes, and that it deletes only
// names of its own: rows of copies by date, each naming the fault it would catch. Runs under
// TZ=Europe/Berlin (the copies are named by local date).
#include "backupretention.h"

#include <QtTest>

class TestBackupRetention : public QObject
{
    Q_OBJECT

private slots:
    void toDelete_data();
    void toDelete();
};

namespace {

// "2026-03-29" -> "Cold store-2026-03-29.dat"
QStringList copies(const QStringList& dates)
{
    QStringList names;
    for (const QString& date : dates)
        names << QStringLiteral("Cold store-") + date + QStringLiteral(".dat");
    return names;
}

// Every day from `first` for `days` days.
QStringList days(const QDate& first, int count)
{
    QStringList dates;
    for (int i = 0; i < count; ++i)
        dates << first.addDays(i).toString(Qt::ISODate);
    return dates;
}

} // namespace

void TestBackupRetention::toDelete_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("daily");
    QTest::addColumn<int>("monthly");
    QTest::addColumn<int>("yearly");
    QTest::addColumn<QStringList>("deleted");

    QTest::newRow("fewer copies than days kept: nothing deleted")
        << copies({"2026-12-01", "2026-12-02"}) << 14 << 24 << 10 << QStringList();
    QTest::newRow("the oldest daily goes; the first of the month stays")
        << copies({"2026-12-01", "2026-12-02", "2026-12-03", "2026-12-04"}) << 2 << 24 << 10
        << copies({"2026-12-02"});
    QTest::newRow("the month's first copy is the earliest, not the last seen")
        << copies({"2026-11-30", "2026-11-10", "2026-11-20", "2026-12-05"}) << 1 << 2 << 0
        << copies({"2026-11-20", "2026-11-30"});
    QTest::newRow("monthly 2 keeps the two newest months' firsts; the older month's first goes")
        << copies({"2026-10-03", "2026-10-04", "2026-11-01", "2026-11-02", "2026-12-01",
                   "2026-12-09"})
        << 1 << 2 << 0 << copies({"2026-10-03", "2026-10-04", "2026-11-02"});
    QTest::newRow("the first of each year stays beyond the months")
        << copies({"2024-01-05", "2024-06-01", "2025-02-01", "2025-03-01", "2026-12-01"}) << 1
        << 1 << 3 << copies({"2024-06-01", "2025-03-01"});
    QTest::newRow("yearly 0 and monthly 0: only the dailies")
        << copies({"2025-01-01", "2026-01-01", "2026-12-08", "2026-12-09"}) << 2 << 0 << 0
        << copies({"2025-01-01", "2026-01-01"});
    QTest::newRow("months without copies cost nothing: the recorder was off for half a year")
        << copies({"2026-01-15", "2026-02-15", "2026-09-01", "2026-09-02"}) << 1 << 3 << 0
        << QStringList();
    QTest::newRow("a spring-forward month: 14 dailies over the change, the month's first kept")
        << copies(days(QDate(2026, 3, 20), 20)) << 14 << 2 << 0
        << copies(days(QDate(2026, 3, 21), 5));
    QTest::newRow("other files, bad and partial copies and other projects are never deleted")
        << (copies({"2026-12-01", "2026-12-02", "2026-12-03"})
            << "Cold store-2026-11-01.dat.bad" << "Cold store-2026-11-02.dat.part"
            << "Warm store-2026-11-01.dat" << "Big Cold store-2026-11-01.dat" << "Cold store.tpc"
            << "Cold store.dat" << "Cold store-2026-13-01.dat" << "Cold store-2026-02-30.dat"
            << "Cold store-+026-11-01.dat" << "Cold store-2026/11/01.dat")
        << 1 << 0 << 0 << copies({"2026-12-01", "2026-12-02"});
    QTest::newRow("a year of dailies with the default 14 / 24 / 10")
        << copies(days(QDate(2026, 1, 1), 365)) << 14 << 24 << 10
        << [] {
               // Kept: Dec 18 to Dec 31, and the 1st of every month.
               QStringList dates = days(QDate(2026, 1, 1), 351);
               for (int month = 1; month <= 12; ++month)
                   dates.removeOne(QDate(2026, month, 1).toString(Qt::ISODate));
               return copies(dates);
           }();
}

void TestBackupRetention::toDelete()
{
    QFETCH(QStringList, files);
    QFETCH(int, daily);
    QFETCH(int, monthly);
    QFETCH(int, yearly);
    QFETCH(QStringList, deleted);
    QStringList got = BackupRetention::toDelete(QStringLiteral("Cold store"), files, daily,
                                                monthly, yearly);
    got.sort();
    deleted.sort();
    QCOMPARE(got, deleted);
}

QTEST_GUILESS_MAIN(TestBackupRetention)
#include "tst_backupretention.moc"
