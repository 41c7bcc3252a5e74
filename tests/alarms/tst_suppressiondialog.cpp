#include "alarmshelves.h"
#include "suppressiondialog.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

// The dialog of a shelve and of an out-of-service time: what it offers and what it hands on.
class TestSuppressionDialog : public QObject
{
    Q_OBJECT

private slots:
    void confirmedValues_data();
    void confirmedValues();
};

void TestSuppressionDialog::confirmedValues_data()
{
    QTest::addColumn<bool>("outOfService");
    QTest::addColumn<QString>("reason"); // typed
    QTest::addColumn<int>("choice");     // duration index, or hours ahead out of service
    QTest::addColumn<bool>("confirmable");
    QTest::addColumn<int>("seconds");       // handed on: the shelve's length (0 out of service)
    QTest::addColumn<qint64>("untilAfter"); // handed on: seconds from now to the end
    QTest::newRow("shelve, shortest") << false << "defrost" << 0 << true << 900 << qint64(900);
    QTest::newRow("shelve, longest") << false << "defrost" << 7 << true << 86400 << qint64(86400);
    QTest::newRow("shelve without a reason") << false << "   " << 0 << false << 0 << qint64(0);
    QTest::newRow("out of service for 5 hours")
        << true << "probe replaced" << 5 << true << 0 << qint64(5 * 3600);
    QTest::newRow("out of service beyond the furthest: held at it")
        << true << "site closed" << 24 * 40 << true << 0
        << qint64(AlarmShelves::MaxOutOfServiceDays) * 86400;
    QTest::newRow("out of service without a reason") << true << "" << 5 << false << 0 << qint64(0);
}

// Catches: a shelve offered longer than 24 hours or shorter than 15 minutes, one confirmed
// without a reason, an out-of-service end beyond the furthest allowed, or other values handed
// on than those shown.
void TestSuppressionDialog::confirmedValues()
{
    QFETCH(bool, outOfService);
    QFETCH(QString, reason);
    QFETCH(int, choice);
    QFETCH(bool, confirmable);
    QFETCH(int, seconds);
    QFETCH(qint64, untilAfter);
    const QDateTime now(QDate(2026, 12, 9), QTime(13, 0), Qt::UTC);
    QWidget window;
    window.show();
    auto* dialog = new SuppressionDialog(outOfService ? SuppressionDialog::Mode::OutOfService
                                                      : SuppressionDialog::Mode::Shelve,
                                         QStringLiteral("Room A"), now, &window);
    dialog->show();
    auto* durations = dialog->findChild<QComboBox*>(QStringLiteral("comboBox_duration"));
    QCOMPARE(durations->count(), 8);
    QCOMPARE(durations->itemData(0).toInt(), AlarmShelves::MinShelveSeconds);
    QCOMPARE(durations->itemData(7).toInt(), AlarmShelves::MaxShelveSeconds);
    QCOMPARE(durations->isVisible(), !outOfService);
    if (outOfService)
        dialog->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_until"))
            ->setDateTime(now.toLocalTime().addSecs(qint64(choice) * 3600));
    else
        durations->setCurrentIndex(choice);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_reason")), reason);
    auto* confirm = dialog->findChild<QPushButton*>(QStringLiteral("pushButton_confirm"));
    QCOMPARE(confirm->isEnabled(), confirmable);
    if (!confirmable)
        return;
    QSignalSpy confirmed(dialog, &SuppressionDialog::confirmed);
    QTest::mouseClick(confirm, Qt::LeftButton);
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(confirmed.at(0).at(0).toInt(), seconds);
    QCOMPARE(now.secsTo(confirmed.at(0).at(1).toDateTime()), untilAfter);
    QCOMPARE(confirmed.at(0).at(2).toString(), reason.trimmed());
}

QTEST_MAIN(TestSuppressionDialog)
#include "tst_suppressiondialog.moc"
