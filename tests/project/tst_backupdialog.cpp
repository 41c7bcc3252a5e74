// The Backups dialog, typed into as a person would: values that cannot be saved are refused
// with the reason in red and the dialog stays; values that can are answered with accepted()
// and read back from the project file as typed.
#include "backupdialog.h"
#include "backupsettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

class TestBackupDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void save_data();
    void save();
};

void TestBackupDialog::save_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("daily");
    QTest::addColumn<QString>("problem"); // empty: saved

    QTest::newRow("a folder on another disk") << "/mnt/backup/cold" << "03:15" << 14 << "";
    QTest::newRow("no folder: backups off, still saved") << "" << "02:00" << 14 << "";
    QTest::newRow("a relative folder would land beside the program")
        << "backups" << "02:00" << 14 << "The backup folder must be an absolute path";
    QTest::newRow("blanks round the folder are not part of it")
        << "  /srv/share/cold  " << "23:59" << 1 << "";
    QTest::newRow("zero daily copies cannot be typed: the field holds at one")
        << "/mnt/backup" << "02:00" << 0 << "";
}

void TestBackupDialog::save()
{
    QFETCH(QString, folder);
    QFETCH(QString, time);
    QFETCH(int, daily);
    QFETCH(QString, problem);

    QWidget parent;
    BackupDialog dialog(BackupSettings(), &parent);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.folderField()->clear();
    QTest::keyClicks(dialog.folderField(), folder);
    dialog.timeField()->setTime(BackupSettings::parseTime(time));
    dialog.dailyField()->setValue(daily);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);

    QCOMPARE(dialog.problemText(), problem);
    QCOMPARE(accepted.count(), problem.isEmpty() ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !problem.isEmpty());
    if (!problem.isEmpty()) {
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("label_problem"));
        QVERIFY(label->styleSheet().contains(QLatin1String("200, 0, 0")));
        return;
    }
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("p.tpc"));
    dialog.settings().save(project);
    const BackupSettings read = BackupSettings::load(project);
    QCOMPARE(read.folder, folder.trimmed());
    QCOMPARE(BackupSettings::timeText(read.timeOfDay), time);
    QCOMPARE(read.keepDaily, qMax(1, daily));
    QCOMPARE(read.keyProblems, QStringList());
}

QTEST_MAIN(TestBackupDialog)
#include "tst_backupdialog.moc"
