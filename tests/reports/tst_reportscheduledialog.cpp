#include "reportscheduledialog.h"
#include "windowfit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

// "Project" -> "Report schedule...": the form against the project file, driven as a user does.
class TestReportScheduleDialog : public QObject
{
    Q_OBJECT

private slots:
    void savedAsEntered_data();
    void savedAsEntered();

private:
    template <typename T> static T* child(QWidget* dialog, const char* name)
    {
        return dialog->findChild<T*>(QLatin1String(name));
    }
};

void TestReportScheduleDialog::savedAsEntered_data()
{
    QTest::addColumn<int>("monthDayIndex");
    QTest::addColumn<QString>("recipients");
    // The problem shown; empty: Save is enabled and writes the file.
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("monthDayKey");

    // Faults: "last" written as a number, or a day picked stored as another.
    QTest::newRow("monthly on the last day")
        << 28 << "a@store.example, b@store.example" << "" << "last";
    QTest::newRow("monthly on day 15") << 14 << "a@store.example" << "" << "15";
    // Faults: a list the sender refuses saved, or a schedule with nobody to mail to.
    QTest::newRow("address not valid")
        << 0 << "a@store.example, not an address"
        << "Report recipient address is not valid: not" << "";
    QTest::newRow("no recipients") << 0 << "" << "No report recipients" << "";
}

void TestReportScheduleDialog::savedAsEntered()
{
    QFETCH(int, monthDayIndex);
    QFETCH(QString, recipients);
    QFETCH(QString, problem);
    QFETCH(QString, monthDayKey);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("site.tpc"));
    QWidget window;
    window.resize(900, 600);
    window.show();
    ReportScheduleDialog dialog(path, QStringLiteral("E-mail notifications are off."), &window);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    child<QCheckBox>(&dialog, "check_daily")->setChecked(true);
    child<QTimeEdit>(&dialog, "time_daily")->setTime(QTime(2, 30));
    auto* monthOn = child<QCheckBox>(&dialog, "check_monthly");
    QVERIFY(!child<QComboBox>(&dialog, "combo_monthDay")->isEnabled());
    QTest::mouseClick(monthOn, Qt::LeftButton, {}, QPoint(5, monthOn->height() / 2));
    QVERIFY(monthOn->isChecked() && child<QComboBox>(&dialog, "combo_monthDay")->isEnabled());
    child<QComboBox>(&dialog, "combo_monthDay")->setCurrentIndex(monthDayIndex);
    auto* edit = child<QLineEdit>(&dialog, "edit_recipients");
    edit->clear();
    QTest::keyClicks(edit, recipients);

    auto* save = child<QPushButton>(&dialog, "button_save");
    QCOMPARE(child<QLabel>(&dialog, "label_problem")->text(), problem);
    QCOMPARE(save->isEnabled(), problem.isEmpty());
    if (QTest::currentDataTag() == QByteArray("monthly on the last day"))
        WindowFit::saveShot(&window, &dialog, QStringLiteral("reportscheduledialog"));
    QVERIFY(WindowFit::outside(&dialog).isEmpty());
    if (!problem.isEmpty())
        return;

    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(accepted.size(), 1);
    QSettings file(path, QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("ReportScheduleMonthly")).toInt(), 1);
    QCOMPARE(file.value(QStringLiteral("ReportScheduleMonthlyDay")).toString(), monthDayKey);
    const ReportScheduleSettings read = ReportScheduleSettings::load(path);
    QVERIFY(read.entries[ReportScheduleSettings::Daily].enabled);
    QCOMPARE(read.entries[ReportScheduleSettings::Daily].time, QTime(2, 30));
    QCOMPARE(read.recipients.join(QStringLiteral(", ")), recipients);
    QVERIFY(read.keyProblems.isEmpty());
}

QTEST_MAIN(TestReportScheduleDialog)
#include "tst_reportscheduledialog.moc"
