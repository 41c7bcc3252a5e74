// The audit trail screen on a real database file: its filters, the pages read as the list
// scrolls, the chain's head at the bottom, and a locked file that never holds the GUI thread.

#include "auditfill.h"
#include "audittrail.h"
#include "audittraildialog.h"
#include "audittrailmodel.h"
#include "sqliteconnection.h"

#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

QDateTime localTime(const QDate& date, int hour, int minute)
{
    return QDateTime(date, QTime(hour, minute), Qt::LocalTime);
}

} // namespace

class TestAuditTrailDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void filters_data();
    void filters();
    void pagesFollowTheScroll();
    void headShownForTheInspector();
    void lockedFileHoldsNoWindow();

private:
    void append(const QDateTime& time, const QString& user, const QString& action,
                const QString& object, const QString& oldValue, const QString& newValue,
                const QString& reason);
    static QStringList column(const AuditTrailModel* model, int column);

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    SqliteConnection db;
};

void TestAuditTrailDialog::init()
{
    dir = std::make_unique<QTemporaryDir>();
    database = dir->filePath(QStringLiteral("project.db"));
    QVERIFY(db.open(database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
}

void TestAuditTrailDialog::append(const QDateTime& time, const QString& user,
                                  const QString& action, const QString& object,
                                  const QString& oldValue, const QString& newValue,
                                  const QString& reason)
{
    QString error;
    QVERIFY2(AuditFill::append(database,
                               {AuditFill::entry(time.toMSecsSinceEpoch(), user, action, object,
                                                 oldValue, newValue, reason)},
                               &error),
             qPrintable(error));
}

QStringList TestAuditTrailDialog::column(const AuditTrailModel* model, int column)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->data(model->index(row, column)).toString();
    return texts;
}

void TestAuditTrailDialog::filters_data()
{
    QTest::addColumn<QString>("period"); // the choice's label
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("objects"); // listed, newest first
    QTest::addColumn<QString>("state");

    const QStringList all{"Node 7 high limit", "bert", "recording", "Node 3 low limit"};
    QTest::newRow("everything") << "All" << "" << "" << "" << all << "4 entries match.";
    QTest::newRow("one user") << "All" << "anna" << "" << "" << QStringList{"bert",
                                                                         "Node 3 low limit"}
                              << "2 entries match.";
    QTest::newRow("one action")
        << "All" << "" << "setting changed" << ""
        << QStringList{"Node 7 high limit", "Node 3 low limit"}
        << "2 entries match.";
    QTest::newRow("text in a reason") << "All" << "" << "" << "DEFROST"
                                      << QStringList{"Node 7 high limit"}
                                      << "1 entry matches.";
    // Entries 40 days old are outside the last 30 days.
    QTest::newRow("last 30 days") << "Last 30 days" << "" << "" << ""
                                  << QStringList{"Node 7 high limit", "bert"}
                                  << "2 entries match.";
    QTest::newRow("nothing matches") << "All" << "anna" << "" << "defrost" << QStringList{}
                                     << "No entries match.";
}

void TestAuditTrailDialog::filters()
{
    QFETCH(QString, period);
    QFETCH(QString, user);
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(QStringList, objects);
    QFETCH(QString, state);

    const QDateTime now = QDateTime::currentDateTime();
    append(now.addDays(-40), QStringLiteral("anna"), QStringLiteral("setting changed"),
           QStringLiteral("Node 3 low limit"), QStringLiteral("2.0"), QStringLiteral("1.5"),
           QStringLiteral("Door seal replaced"));
    append(now.addDays(-40).addSecs(60), QStringLiteral("recorder"),
           QStringLiteral("recording started"), QStringLiteral("recording"), QString(), QString(),
           QString());
    append(now.addDays(-2), QStringLiteral("anna"), QStringLiteral("user added"),
           QStringLiteral("bert"), QString(), QStringLiteral("Operator"), QString());
    append(now.addSecs(-60), QStringLiteral("bert"), QStringLiteral("setting changed"),
           QStringLiteral("Node 7 high limit"), QStringLiteral("8.0"), QStringLiteral("10.0"),
           QStringLiteral("Defrost cycle"));

    AuditTrailDialog dialog(database);
    QTRY_COMPARE(dialog.model()->rowCount(), 4);
    auto* periodBox = dialog.findChild<QComboBox*>(QStringLiteral("comboBox_period"));
    auto* userBox = dialog.findChild<QComboBox*>(QStringLiteral("comboBox_user"));
    auto* actionBox = dialog.findChild<QComboBox*>(QStringLiteral("comboBox_action"));
    auto* textEdit = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_text"));
    QVERIFY(periodBox && userBox && actionBox && textEdit);
    // The choices are the names the trail holds.
    QTRY_COMPARE(userBox->count(), 4);
    QCOMPARE(actionBox->count(), 4);

    periodBox->setCurrentIndex(periodBox->findText(period));
    QVERIFY(periodBox->currentIndex() >= 0);
    if (!user.isEmpty())
        userBox->setCurrentIndex(userBox->findText(user));
    if (!action.isEmpty())
        actionBox->setCurrentIndex(actionBox->findText(action));
    QCOMPARE(userBox->currentText(), user.isEmpty() ? QStringLiteral("All users") : user);
    QCOMPARE(actionBox->currentText(), action.isEmpty() ? QStringLiteral("All actions") : action);
    textEdit->setText(text);
    QTRY_COMPARE(column(dialog.model(), AuditTrailModel::ObjectColumn), objects);
    QTRY_COMPARE(dialog.stateText(), state);
}

void TestAuditTrailDialog::pagesFollowTheScroll()
{
    const QDateTime start = localTime(QDate(2026, 3, 1), 8, 0);
    QVector<AuditEntry> entries;
    for (int i = 0; i < 450; ++i)
        entries << AuditFill::entry(start.addSecs(i * 60).toMSecsSinceEpoch(),
                                    QStringLiteral("anna"), QStringLiteral("setting changed"),
                                    QStringLiteral("setting %1").arg(i + 1));
    QString error;
    QVERIFY2(AuditFill::append(database, entries, &error), qPrintable(error));
    AuditTrailDialog dialog(database);
    dialog.resize(900, 400);
    dialog.show();
    QTRY_COMPARE(dialog.model()->rowCount(), AuditTrailDialog::PageSize);
    QTRY_COMPARE(dialog.stateText(),
                 QStringLiteral("450 entries match; the newest 200 are listed, more as the list "
                                "scrolls."));
    // The view scrolled to the end asks for the next page, and so on to the last.
    for (int pages = 0; pages < 5 && dialog.model()->canFetchMore(QModelIndex()); ++pages) {
        const int before = dialog.model()->rowCount();
        dialog.model()->fetchMore(QModelIndex());
        // Asked once: a second scroll to the end before the answer asks nothing more.
        QVERIFY(!dialog.model()->canFetchMore(QModelIndex()));
        QTRY_VERIFY(dialog.model()->rowCount() > before);
    }
    QCOMPARE(dialog.model()->rowCount(), 450);
    QVERIFY(!dialog.model()->canFetchMore(QModelIndex()));
    QCOMPARE(dialog.stateText(), QStringLiteral("450 entries match."));
    // Each entry once, newest first.
    const QStringList objects = column(dialog.model(), AuditTrailModel::ObjectColumn);
    for (int row = 0; row < objects.size(); ++row)
        QCOMPARE(objects.at(row), QStringLiteral("setting %1").arg(450 - row));
    QCOMPARE(dialog.model()->data(dialog.model()->index(449, AuditTrailModel::TimeColumn)),
             QVariant(QStringLiteral("2026-03-01 08:00:00")));
}

void TestAuditTrailDialog::headShownForTheInspector()
{
    {
        AuditTrailDialog empty(database);
        QTRY_COMPARE(empty.headText(),
                     QStringLiteral("Audit trail head: none"));
    }
    append(localTime(QDate(2026, 3, 29), 3, 0), QStringLiteral("anna"),
           QStringLiteral("setting changed"), QStringLiteral("interval"), QStringLiteral("60"),
           QStringLiteral("30"), QStringLiteral("a\nb"));
    append(localTime(QDate(2026, 3, 29), 3, 5), QStringLiteral("recorder"),
           QStringLiteral("recording started"), QStringLiteral("recording"), QString(), QString(),
           QString());
    std::optional<AuditEntry> head;
    QString error;
    QVERIFY(AuditTrail::head(db.get(), &head, &error) && head);
    AuditTrailDialog dialog(database);
    QTRY_COMPARE(dialog.headText(), QStringLiteral("Audit trail head: entry 2, SHA-256 ") +
                                        QString::fromLatin1(head->hash));
    QCOMPARE(head->hash.size(), 64);
    QTRY_COMPARE(dialog.model()->rowCount(), 2);
    // A text of several lines is one line in the list, whole in its tooltip.
    const QModelIndex reason = dialog.model()->index(1, AuditTrailModel::ReasonColumn);
    QCOMPARE(dialog.model()->data(reason).toString(), QStringLiteral("a\u21b5b"));
    QCOMPARE(dialog.model()->data(reason, Qt::ToolTipRole).toString(), QStringLiteral("a\nb"));
    // An entry written while the screen is open shows once the head is read again.
    append(localTime(QDate(2026, 3, 29), 3, 10), QStringLiteral("anna"),
           QStringLiteral("alarm acknowledged"), QStringLiteral("Node 1"), QString(), QString(),
           QStringLiteral("checked"));
    QMetaObject::invokeMethod(&dialog, "reload");
    QTRY_COMPARE(dialog.model()->rowCount(), 3);
    QTRY_VERIFY(dialog.headText().startsWith(QStringLiteral("Audit trail head: entry 3, SHA-256 ")));
}

void TestAuditTrailDialog::lockedFileHoldsNoWindow()
{
    append(QDateTime::currentDateTime(), QStringLiteral("anna"), QStringLiteral("user added"),
           QStringLiteral("bert"), QString(), QStringLiteral("Operator"), QString());
    // Another program holds the file: a rollback journal locked for writing and reading.
    QCOMPARE(sqlite3_exec(db.get(), "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    QElapsedTimer timer;
    timer.start();
    auto dialog = std::make_unique<AuditTrailDialog>(database);
    dialog->show();
    QCoreApplication::processEvents();
    QVERIFY2(timer.elapsed() < 1000, "the window waited for the locked file");
    QTRY_VERIFY_WITH_TIMEOUT(
        dialog->stateText().startsWith(QStringLiteral("The audit trail cannot be read: ")), 10000);
    QCOMPARE(dialog->model()->rowCount(), 0);
    QCOMPARE(sqlite3_exec(db.get(), "rollback", nullptr, nullptr, nullptr), SQLITE_OK);
    QMetaObject::invokeMethod(dialog.get(), "reload");
    QTRY_COMPARE(dialog->model()->rowCount(), 1);
    QTRY_VERIFY(!dialog->stateText().startsWith(QStringLiteral("The audit trail cannot")));
}

QTEST_MAIN(TestAuditTrailDialog)
#include "tst_audittraildialog.moc"
