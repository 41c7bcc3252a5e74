#include "notificationdialog.h"
#include "notificationsettings.h"
#include "secretstore.h"
#include "webhookreceiver.h"
#include "windowfit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The notification settings dialog, shown and driven as the user does.
class TestNotificationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void formShowsSettings();
    void saveKeepsPasswordOutOfProjectFile();
    void keptPasswordIsShownAndKept_data();
    void keptPasswordIsShownAndKept();
    void cleartextMustBeChosen_data();
    void cleartextMustBeChosen();
    void testButtonShowsServersAnswer();
    void invalidAddressIsNotKept_data();
    void invalidAddressIsNotKept();

private:
    template <typename T> T* child(QWidget* dialog, const char* name)
    {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }
    void waitForSecretLocation(NotificationDialog& dialog);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestNotificationDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void TestNotificationDialog::init()
{
    QDir(QFileInfo(SecretStore::filePath()).path()).removeRecursively();
    m_dir = std::make_unique<QTemporaryDir>();
    m_path = m_dir->filePath(QStringLiteral("store.tpc"));
    NotificationSettings s;
    s.emailEnabled = true;
    s.smtpHost = QStringLiteral("mail.store.example");
    s.smtpPort = 465;
    s.smtpSecurity = SmtpSecurity::Smtps;
    s.smtpUser = QStringLiteral("rec");
    s.sender = QStringLiteral("rec@store.example");
    s.recipients =
        QStringList{QStringLiteral("a@store.example"), QStringLiteral("b@store.example")};
    s.reminderMinutes = 15;
    // A key the dialog does not show.
    s.retentionDays = 400;
    s.save(m_path);
}

void TestNotificationDialog::waitForSecretLocation(NotificationDialog& dialog)
{
    QTRY_VERIFY_WITH_TIMEOUT(dialog.secretStore()->backend() != SecretStore::Backend::Undecided,
                             10000);
}

// Catches a field that shows something other than the project's setting.
void TestNotificationDialog::formShowsSettings()
{
    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    QCOMPARE(child<QLineEdit>(&dialog, "lineEdit_server")->text(),
             QStringLiteral("mail.store.example"));
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_port")->value(), 465);
    QCOMPARE(child<QComboBox>(&dialog, "comboBox_security")->currentText(),
             QStringLiteral("SMTPS (TLS)"));
    QCOMPARE(child<QLineEdit>(&dialog, "lineEdit_recipients")->text(),
             QStringLiteral("a@store.example, b@store.example"));
    QCOMPARE(child<QSpinBox>(&dialog, "spinBox_reminder")->value(), 15);
    QVERIFY(child<QLineEdit>(&dialog, "lineEdit_server")->isEnabled());
    // The webhook is off: its fields cannot be edited.
    QVERIFY(!child<QLineEdit>(&dialog, "lineEdit_webhook_url")->isEnabled());
    waitForSecretLocation(dialog);
    QTRY_VERIFY(child<QLabel>(&dialog, "label_secrets")
                    ->text()
                    .contains(QDir::toNativeSeparators(SecretStore::filePath())));
    // Every field and button within a small screen (a laptop, a panel PC).
    const QSize smallest = WindowFit::smallest(&dialog);
    QVERIFY2(smallest.width() <= WindowFit::SmallScreen.width() &&
                 smallest.height() <= WindowFit::SmallScreen.height(),
             qPrintable(QStringLiteral("%1x%2").arg(smallest.width()).arg(smallest.height())));
    dialog.resize(smallest);
    QVERIFY2(WindowFit::outside(&dialog).isEmpty(),
             qPrintable(WindowFit::outside(&dialog).join(QLatin1Char('\n'))));
    WindowFit::saveShot(&dialog, QStringLiteral("notification-dialog"));
}

// Catches a password written into the shared project file, a dialog closing before its
// secrets are kept, or a save that resets a key the dialog does not show.
void TestNotificationDialog::saveKeepsPasswordOutOfProjectFile()
{
    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    auto* recipients = child<QLineEdit>(&dialog, "lineEdit_recipients");
    recipients->clear();
    QTest::keyClicks(recipients, QStringLiteral("night@store.example; day@store.example"));
    QTest::keyClicks(child<QLineEdit>(&dialog, "lineEdit_password"), QStringLiteral("Geheim-42"));
    // The heartbeat's URL can be typed once it is on; its token is as secret as the password.
    auto* heartbeatUrl = child<QLineEdit>(&dialog, "lineEdit_heartbeat_url");
    QVERIFY(!heartbeatUrl->isEnabled());
    child<QSpinBox>(&dialog, "spinBox_heartbeat")->setValue(5);
    QVERIFY(heartbeatUrl->isEnabled());
    QTest::keyClicks(heartbeatUrl, QStringLiteral("https://hc.store.example/ping/Tok-9917"));
    QTest::mouseClick(child<QPushButton>(&dialog, "pushButton_save"), Qt::LeftButton);
    QVERIFY(accepted.wait(10000));

    const NotificationSettings saved = NotificationSettings::load(m_path);
    QCOMPARE(saved.recipients, QStringList({QStringLiteral("night@store.example"),
                                            QStringLiteral("day@store.example")}));
    QCOMPARE(saved.retentionDays, 400);
    QCOMPARE(saved.heartbeatMinutes, 5);
    QFile project(m_path);
    QVERIFY(project.open(QIODevice::ReadOnly));
    const QByteArray projectText = project.readAll();
    QVERIFY(!projectText.contains("Geheim-42"));
    QVERIFY(!projectText.contains("Tok-9917"));
    QFile secrets(SecretStore::filePath());
    QVERIFY(secrets.open(QIODevice::ReadOnly));
    const QByteArray secretText = secrets.readAll();
    QVERIFY(secretText.contains("Geheim-42"));
    QVERIFY(secretText.contains("Tok-9917"));
}

void TestNotificationDialog::keptPasswordIsShownAndKept_data()
{
    QTest::addColumn<QString>("storedFor");
    QTest::addColumn<bool>("shown");
    const QString here = QStringLiteral("smtp://rec@mail.store.example:465");
    // Kept before passwords were bound to their server: bound to this one at its first use.
    QTest::newRow("kept before binding") << QString() << true;
    QTest::newRow("kept for this server") << here << true;
    // The shared project file now names another server: the password is asked for again.
    QTest::newRow("kept for another server")
        << QStringLiteral("smtp://rec@mail.evil.example:465") << false;
}

// Catches a kept password that the dialog does not show, that a save without changes wipes, or
// that is shown (and so sent) for a server it was not typed for.
void TestNotificationDialog::keptPasswordIsShownAndKept()
{
    QFETCH(QString, storedFor);
    QFETCH(bool, shown);
    {
        SecretStore store(QFileInfo(m_path).canonicalFilePath());
        store.setBackend(SecretStore::Backend::File);
        QSignalSpy written(&store, &SecretStore::written);
        store.write(NotificationSettings::smtpPasswordSecret(), QStringLiteral("kept-pw"),
                    storedFor);
        QVERIFY(written.wait(10000));
    }
    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    auto* password = child<QLineEdit>(&dialog, "lineEdit_password");
    auto* answer = child<QLabel>(&dialog, "label_answer");
    if (shown) {
        QTRY_COMPARE_WITH_TIMEOUT(password->text(), QStringLiteral("kept-pw"), 10000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(answer->text().contains(QLatin1String("another server")), 10000);
        QCOMPARE(password->text(), QString());
    }
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(child<QPushButton>(&dialog, "pushButton_save"), Qt::LeftButton);
    QVERIFY(accepted.size() == 1 || accepted.wait(10000));
    QFile secrets(SecretStore::filePath());
    QVERIFY(secrets.open(QIODevice::ReadOnly));
    const QByteArray kept = secrets.readAll();
    QVERIFY(kept.contains("kept-pw"));
    // Still kept for the server it was typed for only.
    QCOMPARE(kept.contains("mail.evil.example"), !shown);
}

void TestNotificationDialog::cleartextMustBeChosen_data()
{
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<int>("choice");
    // A project from before the choice, with a login on a server without TLS.
    QTest::newRow("undecided: not saved") << 0 << false << int(CleartextPassword::Unset);
    QTest::newRow("ticked") << 1 << true << int(CleartextPassword::Allowed);
    QTest::newRow("ticked, then not") << 2 << true << int(CleartextPassword::Refused);
}

// Catches a dialog that lets a login without TLS be saved without the user's choice, or that
// does not keep the choice.
void TestNotificationDialog::cleartextMustBeChosen()
{
    QFETCH(int, clicks);
    QFETCH(bool, saved);
    QFETCH(int, choice);
    NotificationSettings s = NotificationSettings::load(m_path);
    s.smtpSecurity = SmtpSecurity::None;
    s.smtpPort = 25;
    s.save(m_path);
    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    auto* box = child<QCheckBox>(&dialog, "checkBox_cleartext");
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("send the password unencrypted"));
    QCOMPARE(box->checkState(), Qt::PartiallyChecked);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(5, box->height() / 2));
    QTest::keyClicks(child<QLineEdit>(&dialog, "lineEdit_password"), QStringLiteral("pw"));
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(child<QPushButton>(&dialog, "pushButton_save"), Qt::LeftButton);
    if (saved) {
        QVERIFY(accepted.size() == 1 || accepted.wait(10000));
    } else {
        QVERIFY(!accepted.wait(300));
        QVERIFY2(child<QLabel>(&dialog, "label_answer")->text().contains(QLatin1String("choose")),
                 qPrintable(child<QLabel>(&dialog, "label_answer")->text()));
        // Nor does a test message go out with the password readable.
        child<QLabel>(&dialog, "label_answer")->clear();
        QTest::mouseClick(child<QPushButton>(&dialog, "pushButton_test"), Qt::LeftButton);
        QVERIFY(child<QLabel>(&dialog, "label_answer")->text().contains(QLatin1String("choose")));
        QVERIFY(child<QPushButton>(&dialog, "pushButton_test")->isEnabled());
    }
    QCOMPARE(int(NotificationSettings::load(m_path).smtpCleartext), choice);
    // The status bar warns while the project has not chosen.
    QCOMPARE(NotificationSettings::load(m_path).cleartextWarning().isEmpty(), saved);
}

// Catches a test button that shows nothing, or not what the server said.
void TestNotificationDialog::testButtonShowsServersAnswer()
{
    WebhookReceiver receiver;
    QVERIFY(receiver.listen());
    receiver.setAnswer(202, "Accepted", "queued");
    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    child<QCheckBox>(&dialog, "checkBox_email")->setChecked(false);
    QTest::mouseClick(child<QCheckBox>(&dialog, "checkBox_webhook"), Qt::LeftButton, Qt::NoModifier,
                      QPoint(5, 5));
    QVERIFY(child<QLineEdit>(&dialog, "lineEdit_webhook_url")->isEnabled());
    QTest::keyClicks(child<QLineEdit>(&dialog, "lineEdit_webhook_url"),
                     receiver.url(QStringLiteral("/hook")));
    auto* button = child<QPushButton>(&dialog, "pushButton_test");
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.requests().size(), 1, 10000);
    auto* answer = child<QLabel>(&dialog, "label_answer");
    QTRY_COMPARE_WITH_TIMEOUT(
        answer->text(), QStringLiteral("Webhook: accepted - HTTP/1.1 202 Accepted queued"), 10000);
    QTRY_VERIFY(button->isEnabled());

    const QString shots = qEnvironmentVariable("NOTIFICATION_DIALOG_SCREENSHOT");
    if (!shots.isEmpty())
        QVERIFY(dialog.grab().save(shots));
}

void TestNotificationDialog::invalidAddressIsNotKept_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");

    QTest::newRow("blank in sender")
        << QStringLiteral("lineEdit_sender") << QStringLiteral("rec ord@store.example")
        << QStringLiteral("Sender address is not valid");
    QTest::newRow("two @ in sender")
        << QStringLiteral("lineEdit_sender") << QStringLiteral("rec@@store.example")
        << QStringLiteral("Sender address is not valid");
    QTest::newRow("recipient without domain")
        << QStringLiteral("lineEdit_recipients") << QStringLiteral("a@store.example, gone@")
        << QStringLiteral("Recipient address is not valid: gone@");
    QTest::newRow("escalation recipient with bracket")
        << QStringLiteral("lineEdit_escalation_recipients") << QStringLiteral("boss@store.example>")
        << QStringLiteral("Recipient address is not valid: boss@store.example>");
}

// Catches an address that is not a mailbox saved into the project or used for a test message,
// or refused without saying why.
void TestNotificationDialog::invalidAddressIsNotKept()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, status);

    NotificationDialog dialog(m_path, QStringLiteral("store"));
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    auto* edit = dialog.findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->clear();
    QTest::keyClicks(edit, text);
    auto* answer = child<QLabel>(&dialog, "label_answer");
    auto* test = child<QPushButton>(&dialog, "pushButton_test");
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(answer->text(), status);
    QVERIFY(test->isEnabled());
    answer->clear();
    QTest::mouseClick(child<QPushButton>(&dialog, "pushButton_save"), Qt::LeftButton);
    QCOMPARE(answer->text(), status);
    // Saving answers at once when no secret is to be written: nothing may have been accepted.
    QVERIFY(accepted.isEmpty());
    QVERIFY(dialog.isVisible());
    const NotificationSettings kept = NotificationSettings::load(m_path);
    QCOMPARE(kept.sender, QStringLiteral("rec@store.example"));
    QCOMPARE(kept.recipients,
             QStringList({QStringLiteral("a@store.example"), QStringLiteral("b@store.example")}));
    QVERIFY(kept.escalationRecipients.isEmpty());
}

QTEST_MAIN(TestNotificationDialog)
#include "tst_notificationdialog.moc"
