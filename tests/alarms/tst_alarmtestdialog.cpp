// The "Test alarms" dialog: the node chosen, the answers as they come, the recent tests.

#include "alarmtestdialog.h"
#include "windowfit.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

class TestAlarmTestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void answersAsTheyCome_data();
    void answersAsTheyCome();
};

void TestAlarmTestDialog::answersAsTheyCome_data()
{
    QTest::addColumn<int>("node"); // index in the list: 0 all nodes
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QStringList>("answers"); // "target|answer|text"
    QTest::addColumn<QString>("status");
    const QString ok = AlarmTestRecord::acceptedAnswer();
    QTest::newRow("all nodes, one target silent")
        << 0 << QString()
        << QStringList{"email|accepted|250 2.0.0 Ok: queued",
                       "webhook|refused|HTTP/1.1 503 Service Unavailable\nmaintenance",
                       "mqtt|no answer|no answer in 30 s (Connection refused)"}
        << "Test done: 1 of 3 targets accepted it; it is in the alarm-test log.";
    QTest::newRow("one node, every target took it")
        << 2 << QStringLiteral("N-8")
        << QStringList{"email|accepted|250 Ok", "influx|accepted|taken by the server"}
        << "Test done: 2 of 2 targets accepted it; it is in the alarm-test log.";
    QTest::newRow("nothing switched on") << 1 << QStringLiteral("N-7") << QStringList{}
                                         << "No notification or forwarding target is switched "
                                            "on: nothing to test.";
}

// Catches: the wrong node asked for, a second test started while one waits, an answer lost or
// shown in the colour of another, a finished test counted wrong, a dialog cut off on a small
// screen.
void TestAlarmTestDialog::answersAsTheyCome()
{
    QFETCH(int, node);
    QFETCH(QString, serial);
    QFETCH(QStringList, answers);
    QFETCH(QString, status);
    QWidget window;
    window.resize(WindowFit::SmallScreen);
    window.show();
    AlarmTestDialog dialog(&window);
    dialog.setNodes(
        {{QStringLiteral("N-7"), QStringLiteral("Freezer 1")}, {QStringLiteral("N-8"), QString()}});
    AlarmTestRecord earlier;
    earlier.testId = 1;
    earlier.time = 1765000000;
    earlier.user = QStringLiteral("olga");
    earlier.nodes = QStringLiteral("N-7, N-8");
    earlier.target = QStringLiteral("email");
    earlier.answer = AlarmTestRecord::refusedAnswer();
    earlier.text = QStringLiteral("535 Authentication failed");
    dialog.setRecent({earlier});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto* nodes = dialog.findChild<QComboBox*>(QStringLiteral("comboBox_node"));
    auto* run = dialog.findChild<QPushButton*>(QStringLiteral("pushButton_run"));
    auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("table_answers"));
    auto* recent = dialog.findChild<QTableWidget*>(QStringLiteral("table_recent"));
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("label_status"));
    QVERIFY(nodes && run && table && recent && label);
    QCOMPARE(nodes->count(), 3);
    QCOMPARE(recent->rowCount(), 1);
    QCOMPARE(recent->item(0, 5)->text(), earlier.text);
    nodes->setCurrentIndex(node);
    QSignalSpy asked(&dialog, &AlarmTestDialog::runRequested);
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.first().first().toString(), serial);

    dialog.testStarted(answers.size());
    QCOMPARE(run->isEnabled(), answers.isEmpty());
    for (const QString& a : answers) {
        const QStringList parts = a.split(QLatin1Char('|'));
        dialog.addAnswer(parts.at(0), parts.at(1), parts.at(2));
        QCOMPARE(table->item(table->rowCount() - 1, 2)->text(), parts.at(2));
        QCOMPARE(table->item(table->rowCount() - 1, 1)->foreground().color(),
                 QColor(AlarmTestDialog::answerColor(parts.at(1))));
    }
    QCOMPARE(table->rowCount(), answers.size());
    WindowFit::saveShot(&window, &dialog,
                        QStringLiteral("alarmtest-") +
                            QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
    dialog.testFinished();
    QVERIFY(run->isEnabled());
    QCOMPARE(label->text(), status);
    QVERIFY2(WindowFit::outside(&dialog).isEmpty(),
             qPrintable(WindowFit::outside(&dialog).join(QStringLiteral(", "))));
}

QTEST_MAIN(TestAlarmTestDialog)
#include "tst_alarmtestdialog.moc"
