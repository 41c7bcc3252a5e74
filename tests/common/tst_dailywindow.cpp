#include "dailywindow.h"

#include <QtTest>

// A node's daily out-of-service time on the local wall clock (run under TZ=Europe/Berlin):
// across midnight and on both days of the change of summer time; each row names the fault it
// catches.
class TestDailyWindow : public QObject
{
    Q_OBJECT

private slots:
    void contains_data();
    void contains();
    void parse_data();
    void parse();
};

void TestDailyWindow::contains_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<bool>("inside");
    const auto utc = [](int month, int day, int hour, int minute) {
        return QDateTime(QDate(2024, month, day), QTime(hour, minute), Qt::UTC);
    };
    // Winter: local = UTC + 1.
    QTest::newRow("across midnight: evening part") << "23:30-00:15" << utc(1, 10, 22, 45) << true;
    QTest::newRow("across midnight: morning part") << "23:30-00:15" << utc(1, 10, 23, 10) << true;
    QTest::newRow("across midnight: its end is outside")
        << "23:30-00:15" << utc(1, 10, 23, 15) << false;
    QTest::newRow("across midnight: a minute before")
        << "23:30-00:15" << utc(1, 10, 22, 29) << false;
    QTest::newRow("read in UTC would be inside") << "02:00-02:45" << utc(1, 10, 2, 10) << false;
    QTest::newRow("local 02:10 in winter") << "02:00-02:45" << utc(1, 10, 1, 10) << true;
    // 31 March 2024: 02:00 CET becomes 03:00 CEST.
    QTest::newRow("spring: 01:59 CET, before") << "02:00-02:45" << utc(3, 31, 0, 59) << false;
    QTest::newRow("spring: the skipped window does not happen")
        << "02:00-02:45" << utc(3, 31, 1, 0) << false;
    QTest::newRow("spring: across the change, 01:45 CET")
        << "01:30-03:30" << utc(3, 31, 0, 45) << true;
    QTest::newRow("spring: across the change, 03:15 CEST")
        << "01:30-03:30" << utc(3, 31, 1, 15) << true;
    QTest::newRow("spring: across the change, 03:30 CEST is its end")
        << "01:30-03:30" << utc(3, 31, 1, 30) << false;
    QTest::newRow("spring: across midnight into the day of the change")
        << "23:00-01:00" << utc(3, 30, 23, 30) << true;
    // 27 October 2024: 03:00 CEST becomes 02:00 CET, the hour from 02:00 comes twice.
    QTest::newRow("autumn: 02:15 CEST, first time round")
        << "02:00-02:45" << utc(10, 27, 0, 15) << true;
    QTest::newRow("autumn: 02:15 CET, second time round")
        << "02:00-02:45" << utc(10, 27, 1, 15) << true;
    QTest::newRow("autumn: 02:50 CEST, between the two")
        << "02:00-02:45" << utc(10, 27, 0, 50) << false;
    QTest::newRow("autumn: across the change, 01:45 CEST")
        << "01:30-03:30" << utc(10, 26, 23, 45) << true;
    QTest::newRow("autumn: across the change, 03:15 CET")
        << "01:30-03:30" << utc(10, 27, 2, 15) << true;
    QTest::newRow("autumn: across the change, 03:30 CET is its end")
        << "01:30-03:30" << utc(10, 27, 2, 30) << false;
    QTest::newRow("no window holds nothing") << "" << utc(10, 27, 2, 15) << false;
}

// Catches: a window read in UTC or at a fixed offset, one across midnight that never or always
// holds, its end counted in, or a change of summer time that shifts it by an hour.
void TestDailyWindow::contains()
{
    QFETCH(QString, window);
    QFETCH(QDateTime, utc);
    QFETCH(bool, inside);
    QString problem;
    const auto w = DailyWindow::parse(window, &problem);
    QVERIFY2(w, qPrintable(problem));
    QCOMPARE(w->contains(utc), inside);
}

void TestDailyWindow::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read"); // the window read, "!" refused
    QTest::newRow("plain") << "02:00-02:45"
                           << "02:00-02:45";
    QTest::newRow("blanks round it") << "  23:30-00:15 "
                                     << "23:30-00:15";
    QTest::newRow("none") << ""
                          << "";
    QTest::newRow("hour beyond the day") << "24:00-02:00"
                                         << "!";
    QTest::newRow("minute beyond the hour") << "02:60-03:00"
                                            << "!";
    QTest::newRow("single digits") << "2:00-2:45"
                                   << "!";
    QTest::newRow("one time only") << "02:00"
                                   << "!";
    QTest::newRow("no length") << "02:00-02:00"
                               << "!";
    QTest::newRow("something after it") << "02:00-02:45;rm"
                                        << "!";
    QTest::newRow("two windows") << "02:00-02:45,03:00-03:15"
                                 << "!";
    QTest::newRow("seconds") << "02:00:00-02:45:00"
                             << "!";
    QTest::newRow("not digits") << "ab:cd-ef:gh"
                                << "!";
    QTest::newRow("very long") << QString(5000, QLatin1Char('1')) << "!";
}

// Catches a hostile or mistyped value taken as some other window instead of refused.
void TestDailyWindow::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, read);
    QString problem;
    const auto w = DailyWindow::parse(text, &problem);
    if (read == QLatin1String("!")) {
        QVERIFY(!w);
        QVERIFY(!problem.isEmpty());
    } else {
        QVERIFY(w);
        QCOMPARE(w->text(), read);
        QCOMPARE(w->isSet(), !read.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestDailyWindow)
#include "tst_dailywindow.moc"
