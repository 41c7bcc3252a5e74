#include "alarmmonitor.h"
#include "notificationsettings.h"
#include "projectfile.h"
#include "projectnotifications.h"
#include "secretstore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

#include <sys/stat.h>

namespace {

int mode(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

using Result = SecretStore::ReadResult;

// The answer to one read, waited for.
QString readBack(SecretStore& store, const QString& name, Result* result,
                 const QString& target = QString())
{
    QSignalSpy spy(&store, &SecretStore::readFinished);
    store.read(name, target);
    if (!spy.wait(10000))
        return QStringLiteral("(no answer)");
    *result = spy.first().at(2).value<Result>();
    return spy.first().at(1).toString();
}

QString readBack(SecretStore& store, const QString& name, bool* found)
{
    Result result = Result::NotFound;
    const QString secret = readBack(store, name, &result);
    *found = result == Result::Found;
    return secret;
}

bool writeAndWait(SecretStore& store, const QString& name, const QString& secret)
{
    QSignalSpy spy(&store, &SecretStore::written);
    if (secret.isNull())
        store.remove(name);
    else
        store.write(name, secret);
    return spy.wait(10000) && spy.first().at(1).toBool();
}

// A service on the bus that takes every call and never answers.
class SilentObject : public QDBusVirtualObject
{
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        // Otherwise Qt answers for the object at once.
        message.setDelayedReply(true);
        return true;
    }
    QString introspect(const QString&) const override { return QString(); }
};

const QString FakeConnection = QStringLiteral("fake-secret-service");

} // namespace

// The per-user secret store. No secret service runs here (as in CI): the file it falls back to,
// and the fall-back itself.
class TestSecretStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void fileKeepsSecretsPerProject();
    void fileAndFolderOwnerOnly();
    void looserFileIsClosedAgain();
    void noServiceChoosesFile_data();
    void noServiceChoosesFile();
    void runningServiceIsUsed();
    void serviceFailureFallsBack_data();
    void serviceFailureFallsBack();
    void secretBoundToTarget_data();
    void secretBoundToTarget();
    void writersAtOnceKeepEverySecret();
    void webhookAddressProblemIsShown_data();
    void webhookAddressProblemIsShown();

private:
    // Puts a service of that name on the private bus, answering nothing.
    void registerSilentService(const QString& name, const QString& path);

    QProcess m_bus;
    QString m_busAddress;
    SilentObject m_silent;
    QStringList m_registered;
};

void TestSecretStore::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // A session bus of the test's own, with no secret service unless a test puts one there.
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
    m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    QVERIFY(QDBusConnection::connectToBus(m_busAddress, FakeConnection).isConnected());
}

void TestSecretStore::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(FakeConnection);
    m_bus.terminate();
    m_bus.waitForFinished();
}

void TestSecretStore::init()
{
    QDir(QFileInfo(SecretStore::filePath()).path()).removeRecursively();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
}

void TestSecretStore::cleanup()
{
    QDBusConnection bus(FakeConnection);
    for (const QString& name : qAsConst(m_registered)) {
        if (name.startsWith(QLatin1Char('/')))
            bus.unregisterObject(name, QDBusConnection::UnregisterTree);
        else
            bus.unregisterService(name);
    }
    m_registered.clear();
}

void TestSecretStore::registerSilentService(const QString& name, const QString& path)
{
    QDBusConnection bus(FakeConnection);
    QVERIFY(bus.registerVirtualObject(path, &m_silent, QDBusConnection::SubPath));
    QVERIFY(bus.registerService(name));
    m_registered << path << name;
}

// Catches one project reading another's password, or a removal that takes more than its name.
void TestSecretStore::fileKeepsSecretsPerProject()
{
    SecretStore a(QStringLiteral("/projects/a.tpc"));
    SecretStore b(QStringLiteral("/projects/b.tpc"));
    a.setBackend(SecretStore::Backend::File);
    b.setBackend(SecretStore::Backend::File);
    QVERIFY(writeAndWait(a, QStringLiteral("smtp-password"), QStringLiteral("pä$$wörd")));
    QVERIFY(writeAndWait(a, QStringLiteral("webhook-url/teams"),
                         QStringLiteral("https://hooks.example/T0/secret")));
    QVERIFY(writeAndWait(b, QStringLiteral("smtp-password"), QStringLiteral("other")));

    // A new store, as after a restart.
    SecretStore again(QStringLiteral("/projects/a.tpc"));
    again.setBackend(SecretStore::Backend::File);
    bool found = false;
    QCOMPARE(readBack(again, QStringLiteral("smtp-password"), &found), QStringLiteral("pä$$wörd"));
    QVERIFY(found);
    QCOMPARE(readBack(b, QStringLiteral("smtp-password"), &found), QStringLiteral("other"));

    QVERIFY(writeAndWait(again, QStringLiteral("smtp-password"), QString()));
    QCOMPARE(readBack(again, QStringLiteral("smtp-password"), &found), QString());
    QVERIFY(!found);
    QCOMPARE(readBack(again, QStringLiteral("webhook-url/teams"), &found),
             QStringLiteral("https://hooks.example/T0/secret"));
    QCOMPARE(readBack(b, QStringLiteral("smtp-password"), &found), QStringLiteral("other"));
    QVERIFY(found);
}

// Catches a secrets file that other users of the machine can read.
void TestSecretStore::fileAndFolderOwnerOnly()
{
    ::umask(022);
    SecretStore store(QStringLiteral("p"));
    store.setBackend(SecretStore::Backend::File);
    QVERIFY(writeAndWait(store, QStringLiteral("smtp-password"), QStringLiteral("x")));
    QCOMPARE(mode(SecretStore::filePath()), 0600);
    QCOMPARE(mode(QFileInfo(SecretStore::filePath()).path()), 0700);
    QVERIFY(store.location().contains(QDir::toNativeSeparators(SecretStore::filePath())));
    // A second write replaces the file: the new one is closed as well.
    QVERIFY(writeAndWait(store, QStringLiteral("smtp-password"), QStringLiteral("y")));
    QCOMPARE(mode(SecretStore::filePath()), 0600);
}

// Catches a file restored from a backup with looser permissions staying readable to others.
void TestSecretStore::looserFileIsClosedAgain()
{
    SecretStore store(QStringLiteral("p"));
    store.setBackend(SecretStore::Backend::File);
    QVERIFY(writeAndWait(store, QStringLiteral("smtp-password"), QStringLiteral("x")));
    QVERIFY(::chmod(QFile::encodeName(SecretStore::filePath()).constData(), 0644) == 0);
    bool found = false;
    QCOMPARE(readBack(store, QStringLiteral("smtp-password"), &found), QStringLiteral("x"));
    QCOMPARE(mode(SecretStore::filePath()), 0600);
}

void TestSecretStore::noServiceChoosesFile_data()
{
    QTest::addColumn<bool>("bus");
    // As on a server or in CI.
    QTest::newRow("no session bus") << false;
    QTest::newRow("bus without a secret service") << true;
}

// Catches a store that waits forever for a secret service that is not there.
void TestSecretStore::noServiceChoosesFile()
{
    QFETCH(bool, bus);
    if (!bus)
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    SecretStore store(QStringLiteral("p"));
    QSignalSpy changed(&store, &SecretStore::backendChanged);
    // Asked before the look is done: the request waits for it, then goes to the file.
    QSignalSpy written(&store, &SecretStore::written);
    store.write(QStringLiteral("smtp-password"), QStringLiteral("z"));
    QVERIFY(written.wait(10000));
    QVERIFY(written.first().at(1).toBool());
    QCOMPARE(store.backend(), SecretStore::Backend::File);
    QCOMPARE(changed.size(), 1);
    QVERIFY(QFile::exists(SecretStore::filePath()));
}

// Catches a running secret service that the store does not see, and so a password put in a
// file although the desktop could keep it.
void TestSecretStore::runningServiceIsUsed()
{
    registerSilentService(QStringLiteral("org.freedesktop.secrets"),
                          QStringLiteral("/org/freedesktop/secrets"));
    SecretStore store(QStringLiteral("p"));
    QSignalSpy changed(&store, &SecretStore::backendChanged);
    QVERIFY(changed.wait(10000));
    QCOMPARE(store.backend(), SecretStore::Backend::SecretService);
    QCOMPARE(store.location(), QStringLiteral("the desktop's secret service"));
}

void TestSecretStore::serviceFailureFallsBack_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<SecretStore::Backend>("backend");
    QTest::addColumn<SecretStore::ReadResult>("readResult");
    // The service takes the call and never answers (a prompt to unlock it waits for the user);
    // the store's bound comes before QtKeychain's own (half a second for KDE's wallet, the
    // bus's 25 s for the Secret Service). The write is refused rather than put in the file,
    // where later reads would miss it while the service keeps an older one, and a read gives no
    // empty password but "not available".
    QTest::newRow("service silent (locked)")
        << true << 200 << QStringLiteral("secret service gave no answer within 200 ms") << false
        << SecretStore::Backend::SecretService << Result::Unavailable;
    // The service answers at once with an error. (After the silent row: as seen here, once
    // QtKeychain has failed to reach the wallet it fails later jobs at once.)
    // The trace names the error's code, never the service's own text.
    QTest::newRow("service missing")
        << false << 1000 << QStringLiteral("secret service unusable (QtKeychain error ") << true
        << SecretStore::Backend::File << Result::Found;
}

// Catches a secret lost, a caller left waiting, or an empty password handed out, when the
// secret service fails or stays silent.
void TestSecretStore::serviceFailureFallsBack()
{
    QFETCH(bool, silent);
    QFETCH(int, boundMs);
    QFETCH(QString, reason);
    QFETCH(bool, kept);
    QFETCH(SecretStore::Backend, backend);
    QFETCH(SecretStore::ReadResult, readResult);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(reason)));
    if (silent) {
        // The read asks the silent service again.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(reason)));
        registerSilentService(QStringLiteral("org.kde.kwalletd5"),
                              QStringLiteral("/modules/kwalletd5"));
    }
    SecretStore store(QStringLiteral("p"));
    store.setServiceTimeout(boundMs);
    store.setBackend(SecretStore::Backend::SecretService);
    QSignalSpy changed(&store, &SecretStore::backendChanged);
    QElapsedTimer clock;
    clock.start();
    QSignalSpy written(&store, &SecretStore::written);
    store.write(QStringLiteral("smtp-password"), QStringLiteral("kept"));
    QVERIFY(written.wait(10000));
    QCOMPARE(written.first().at(1).toBool(), kept);
    if (!kept)
        QCOMPARE(written.first().at(2).toString(), SecretStore::unavailableText());
    // Far below the bus's own 25 s time-out.
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(store.backend(), backend);
    QCOMPARE(changed.size(), backend == SecretStore::Backend::File ? 1 : 0);
    Result result = Result::NotFound;
    QCOMPARE(readBack(store, QStringLiteral("smtp-password"), &result),
             readResult == Result::Found ? QStringLiteral("kept") : QString());
    QCOMPARE(result, readResult);
    if (!kept)
        QVERIFY(!QFile::exists(SecretStore::filePath()));
}

void TestSecretStore::secretBoundToTarget_data()
{
    QTest::addColumn<QString>("writtenFor");
    QTest::addColumn<QString>("readFor");
    QTest::addColumn<SecretStore::ReadResult>("result");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("thenReadFor");
    QTest::addColumn<SecretStore::ReadResult>("thenResult");
    const QString mail = QStringLiteral("smtp://alarm@mail.site.example:587");
    const QString other = QStringLiteral("smtp://alarm@mail.evil.example:587");
    const QString port = QStringLiteral("smtp://alarm@mail.site.example:25");
    const QString login = QStringLiteral("smtp://boss@mail.site.example:587");
    QTest::newRow("same server") << mail << mail << Result::Found << "pw" << mail << Result::Found;
    // A shared project file edited to name another server gets no stored password.
    QTest::newRow("host changed") << mail << other << Result::OtherTarget << "" << mail
                                  << Result::Found;
    QTest::newRow("port changed") << mail << port << Result::OtherTarget << "" << mail
                                  << Result::Found;
    QTest::newRow("login changed")
        << mail << login << Result::OtherTarget << "" << mail << Result::Found;
    // Kept before secrets were bound: bound to the server the project names at its first
    // use, and no other after that.
    QTest::newRow("stored before binding")
        << QString() << mail << Result::Found << "pw" << other << Result::OtherTarget;
    // A webhook URL is its own target.
    QTest::newRow("unbound") << QString() << QString() << Result::Found << "pw" << QString()
                             << Result::Found;
}

// Catches a stored password handed to whatever server the project file names now.
void TestSecretStore::secretBoundToTarget()
{
    QFETCH(QString, writtenFor);
    QFETCH(QString, readFor);
    QFETCH(SecretStore::ReadResult, result);
    QFETCH(QString, secret);
    QFETCH(QString, thenReadFor);
    QFETCH(SecretStore::ReadResult, thenResult);
    {
        SecretStore store(QStringLiteral("/projects/a.tpc"));
        store.setBackend(SecretStore::Backend::File);
        QSignalSpy written(&store, &SecretStore::written);
        store.write(QStringLiteral("smtp-password"), QStringLiteral("pw"), writtenFor);
        QVERIFY(written.wait(10000));
        QVERIFY(written.first().at(1).toBool());
    }
    // As after a restart.
    SecretStore store(QStringLiteral("/projects/a.tpc"));
    store.setBackend(SecretStore::Backend::File);
    Result got = Result::NotFound;
    QCOMPARE(readBack(store, QStringLiteral("smtp-password"), &got, readFor), secret);
    QCOMPARE(got, result);
    SecretStore later(QStringLiteral("/projects/a.tpc"));
    later.setBackend(SecretStore::Backend::File);
    const QString again = readBack(later, QStringLiteral("smtp-password"), &got, thenReadFor);
    QCOMPARE(got, thenResult);
    QCOMPARE(again, thenResult == Result::Found ? QStringLiteral("pw") : QString());
}

// Catches a secret lost when two recorders (here two threads, each with a store of its own)
// save the secrets file at the same time: each read the file before the other's save.
void TestSecretStore::writersAtOnceKeepEverySecret()
{
    constexpr int PerWriter = 25;
    const auto writer = [](const QString& project) {
        return QThread::create([project] {
            SecretStore store(project);
            store.setBackend(SecretStore::Backend::File);
            int answered = 0;
            int failed = 0;
            QEventLoop loop;
            QObject::connect(&store, &SecretStore::written, &loop,
                             [&](const QString&, bool ok, const QString&) {
                                 failed += ok ? 0 : 1;
                                 if (++answered == PerWriter)
                                     loop.quit();
                             });
            for (int i = 0; i < PerWriter; ++i)
                store.write(QStringLiteral("name-%1").arg(i), QStringLiteral("secret-%1").arg(i));
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
            if (failed > 0 || answered != PerWriter)
                qWarning("writer %s: %d answered, %d failed", qPrintable(project), answered,
                         failed);
        });
    };
    std::unique_ptr<QThread> first(writer(QStringLiteral("/projects/first.tpc")));
    std::unique_ptr<QThread> second(writer(QStringLiteral("/projects/second.tpc")));
    first->start();
    second->start();
    QVERIFY(first->wait(90000));
    QVERIFY(second->wait(90000));

    for (const QString& project :
         {QStringLiteral("/projects/first.tpc"), QStringLiteral("/projects/second.tpc")}) {
        SecretStore store(project);
        store.setBackend(SecretStore::Backend::File);
        for (int i = 0; i < PerWriter; ++i) {
            bool found = false;
            QCOMPARE(readBack(store, QStringLiteral("name-%1").arg(i), &found),
                     QStringLiteral("secret-%1").arg(i));
            QVERIFY(found);
        }
    }
}

void TestSecretStore::webhookAddressProblemIsShown_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("silentService");
    QTest::addColumn<QString>("note");
    QTest::newRow("address stored") << true << false << QString();
    QTest::newRow("address not stored")
        << false << false
        << QStringLiteral("No webhook address is stored: enter it in Notifications");
    QTest::newRow("service silent (locked)") << false << true << SecretStore::unavailableText();
}

// Catches a webhook whose address the secret store could not give (locked, or never stored)
// leaving its alarm messages waiting for ever with nothing on screen saying why.
void TestSecretStore::webhookAddressProblemIsShown()
{
    QFETCH(bool, stored);
    QFETCH(bool, silentService);
    QFETCH(QString, note);
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = dir.filePath(QStringLiteral("site.tpc"));
    ProjectFile(project).create(1000);
    NotificationSettings settings;
    settings.webhookEnabled = true;
    settings.save(project);
    if (stored) {
        SecretStore store(QFileInfo(project).canonicalFilePath());
        QVERIFY(writeAndWait(store, settings.webhookUrlSecret(),
                             QStringLiteral("https://hooks.example/alarm?token=abc")));
    }
    if (silentService) {
        registerSilentService(QStringLiteral("org.kde.kwalletd5"),
                              QStringLiteral("/modules/kwalletd5"));
    }
    AlarmMonitor monitor;
    ProjectNotifications notifications(project, nullptr, &monitor);
    notifications.secretStore()->setServiceTimeout(200);
    QSignalSpy read(notifications.secretStore(), &SecretStore::readFinished);
    QSignalSpy changed(&notifications, &ProjectNotifications::passwordNoteChanged);
    notifications.start();
    QTRY_VERIFY_WITH_TIMEOUT(!read.isEmpty(), 10000);
    QCOMPARE(read.first().at(0).toString(), settings.webhookUrlSecret());
    QCOMPARE(changed.last().at(0).toString(), note);
    QCOMPARE(notifications.passwordNote(), note);
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secretstore.moc"
