#include "secretstore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <qt5keychain/keychain.h>

#include <atomic>

namespace {

const QString ServiceName = QStringLiteral("QuillmarLiteModbus");
// The Secret Service itself, and KDE's wallet, which QtKeychain speaks to where libsecret is
// missing.
const QStringList SecretServiceBusNames = {QStringLiteral("org.freedesktop.secrets"),
                                           QStringLiteral("org.kde.kwalletd5"),
                                           QStringLiteral("org.kde.kwalletd6")};
constexpr int ProbeTimeoutMs = 2000;

constexpr QFile::Permissions OwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions OthersAccess = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
constexpr QFile::Permissions OwnerOnlyFolder =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Asked on a thread of the pool: connecting to the session bus and asking it may take as long
// as the bus lets it.
bool secretServiceRuns()
{
    // Stores probing at once each get their own connection.
    static std::atomic<int> probes{0};
    const QString connectionName = QStringLiteral("secretstore-probe-") + QString::number(++probes);
    bool runs = false;
    {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
        if (bus.isConnected()) {
            const auto ask = [&bus](const QString& method, const QString& argument) {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), method);
                if (!argument.isEmpty())
                    call << argument;
                return bus.call(call, QDBus::Block, ProbeTimeoutMs);
            };
            for (const QString& name : SecretServiceBusNames) {
                const QDBusMessage owner = ask(QStringLiteral("NameHasOwner"), name);
                runs = runs || (owner.type() == QDBusMessage::ReplyMessage &&
                                owner.arguments().value(0).toBool());
            }
            if (!runs) {
                // A service the bus starts on the first request counts as well.
                const QDBusMessage names = ask(QStringLiteral("ListActivatableNames"), QString());
                const QStringList activatable = names.arguments().value(0).toStringList();
                for (const QString& name : SecretServiceBusNames)
                    runs = runs || activatable.contains(name);
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return runs;
}

QString folderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/QuillmarLiteModbus/secrets");
}

// The whole file: {project: {name: secret}}. A missing file is empty.
bool loadFile(QJsonObject* all, QString* error)
{
    QFile file(SecretStore::filePath());
    if (!file.exists())
        return true;
    // A copy restored with looser permissions is closed again before it is read.
    if (file.permissions() & OthersAccess)
        file.setPermissions(OwnerOnlyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        *error = QStringLiteral("The secrets file is damaged: ") + file.fileName();
        return false;
    }
    *all = document.object();
    return true;
}

bool saveFile(const QJsonObject& all, QString* error)
{
    const QString folder = folderPath();
    if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, OwnerOnlyFolder)) {
        *error = QStringLiteral("Cannot make the folder ") + folder;
        return false;
    }
    QSaveFile file(SecretStore::filePath());
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    // The folder admits nobody else, so the new file is never readable by others on its way.
    file.setPermissions(OwnerOnlyFile);
    file.write(QJsonDocument(all).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    if (!QFile::setPermissions(SecretStore::filePath(), OwnerOnlyFile)) {
        *error = QStringLiteral("Cannot restrict the permissions of ") + SecretStore::filePath();
        return false;
    }
    return true;
}

} // namespace

// Runs the QtKeychain jobs on a thread of its own: a backend may block its caller (KDE's
// wallet asks the bus synchronously), and the store's caller is the GUI thread.
class KeychainWorker : public QObject
{
    Q_OBJECT

public:
    void run(quint64 request, int type, const QString& key, const QString& secret)
    {
        QKeychain::Job* job = nullptr;
        if (type == 0) {
            job = new QKeychain::ReadPasswordJob(ServiceName);
        } else if (type == 1) {
            auto* writeJob = new QKeychain::WritePasswordJob(ServiceName);
            writeJob->setTextData(secret);
            job = writeJob;
        } else {
            job = new QKeychain::DeletePasswordJob(ServiceName);
        }
        job->setAutoDelete(true);
        job->setKey(key);
        connect(job, &QKeychain::Job::finished, this, [this, request](QKeychain::Job* finished) {
            QString text;
            if (auto* readJob = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                text = readJob->textData();
            emit done(request, int(finished->error()), finished->errorString(), text);
        });
        job->start();
    }

signals:
    void done(quint64 request, int error, const QString& errorText, const QString& secret);
};

SecretStore::SecretStore(const QString& project, QObject* parent)
    : QObject(parent), m_project(project), m_serviceTimer(new QTimer(this))
{
    qRegisterMetaType<SecretStore::Backend>();
    m_serviceTimer->setSingleShot(true);
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher] {
        if (m_backend == Backend::Undecided)
            decide(watcher->result() ? Backend::SecretService : Backend::File);
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(secretServiceRuns));
}

SecretStore::~SecretStore()
{
    // A job still waiting on the service is not waited for: the thread ends when the job does,
    // and deletes itself then.
    if (m_thread)
        m_thread->quit();
}

QString SecretStore::filePath()
{
    return folderPath() + QStringLiteral("/notification-secrets.json");
}

QString SecretStore::location() const
{
    switch (m_backend) {
    case Backend::SecretService:
        return QStringLiteral("the desktop's secret service");
    case Backend::File:
        return QStringLiteral("a file only you can read: ") + QDir::toNativeSeparators(filePath());
    case Backend::Undecided:
        break;
    }
    return QStringLiteral("(looking for a secret service)");
}

void SecretStore::setBackend(Backend backend)
{
    if (backend != Backend::Undecided)
        decide(backend);
}

void SecretStore::decide(Backend backend)
{
    const bool changed = backend != m_backend;
    m_backend = backend;
    if (changed)
        emit backendChanged(backend);
    next();
}

void SecretStore::read(const QString& name)
{
    m_operations.enqueue({Operation::Read, name, QString()});
    next();
}

void SecretStore::write(const QString& name, const QString& secret)
{
    m_operations.enqueue({Operation::Write, name, secret});
    next();
}

void SecretStore::remove(const QString& name)
{
    m_operations.enqueue({Operation::Remove, name, QString()});
    next();
}

void SecretStore::next()
{
    if (m_busy || m_operations.isEmpty() || m_backend == Backend::Undecided)
        return;
    m_busy = true;
    const Operation op = m_operations.head();
    if (m_backend == Backend::SecretService)
        runWithService(op);
    else
        // The answer still comes from the event loop, as the service's would.
        QTimer::singleShot(0, this, [this, op] { runWithFile(op); });
}

QString SecretStore::serviceKey(const QString& name) const
{
    return m_project + QLatin1Char('/') + name;
}

void SecretStore::runWithService(const Operation& op)
{
    if (!m_worker) {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("secret store"));
        m_worker = new KeychainWorker;
        m_worker->moveToThread(m_thread);
        connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        connect(
            m_worker, &KeychainWorker::done, this,
            [this](quint64 request, int error, const QString& errorText, const QString& secret) {
                if (request != m_request || m_operations.isEmpty())
                    return;
                m_serviceTimer->stop();
                serviceFinished(m_operations.head(), error, errorText, secret);
            });
        m_thread->start();
    }
    const quint64 request = ++m_request;
    m_serviceTimer->disconnect(this);
    connect(m_serviceTimer, &QTimer::timeout, this, [this, request] {
        if (request != m_request)
            return;
        ++m_request;
        useFileInstead(NoAnswer);
    });
    m_serviceTimer->start(m_timeoutMs);
    QMetaObject::invokeMethod(
        m_worker,
        [w = m_worker, request, type = int(op.type), key = serviceKey(op.name),
         secret = op.secret] { w->run(request, type, key, secret); },
        Qt::QueuedConnection);
}

void SecretStore::serviceFinished(const Operation& op, int error, const QString& errorText,
                                  const QString& secret)
{
    switch (error) {
    case QKeychain::NoError:
        if (op.type != Operation::Read) {
            // A copy left in the file from a time without the service is no longer needed.
            QJsonObject all;
            QString ignored;
            if (loadFile(&all, &ignored) && all.value(m_project).toObject().contains(op.name)) {
                QJsonObject project = all.value(m_project).toObject();
                project.remove(op.name);
                all.insert(m_project, project);
                saveFile(all, &ignored);
            }
        }
        finish(op, true, secret, QString());
        return;
    case QKeychain::EntryNotFound:
        // Written while no service ran, or never written.
        if (op.type == Operation::Read)
            runWithFile(op);
        else
            finish(op, true, QString(), QString());
        return;
    case QKeychain::AccessDeniedByUser:
        // The user said no: that is an answer, not a broken service.
        finish(op, false, QString(), errorText);
        return;
    default:
        useFileInstead(error);
        return;
    }
}

void SecretStore::useFileInstead(int keychainError)
{
    // Numbers only: the service's own text may quote what it was handed (a password).
    const QString reason = keychainError == NoAnswer
                               ? QStringLiteral("no answer within %1 ms").arg(m_timeoutMs)
                               : QStringLiteral("QtKeychain error %1").arg(keychainError);
    qWarning().noquote() << QStringLiteral("SecretStore : secret service unusable (") + reason +
                                QStringLiteral("), using ") + filePath();
    m_busy = false;
    decide(Backend::File);
}

void SecretStore::runWithFile(const Operation& op)
{
    QJsonObject all;
    QString error;
    if (!loadFile(&all, &error)) {
        finish(op, false, QString(), error);
        return;
    }
    QJsonObject project = all.value(m_project).toObject();
    if (op.type == Operation::Read) {
        const QJsonValue value = project.value(op.name);
        finish(op, value.isString(), value.toString(), QString());
        return;
    }
    if (op.type == Operation::Write)
        project.insert(op.name, op.secret);
    else if (!project.contains(op.name)) {
        finish(op, true, QString(), QString());
        return;
    } else
        project.remove(op.name);
    if (project.isEmpty())
        all.remove(m_project);
    else
        all.insert(m_project, project);
    const bool ok = saveFile(all, &error);
    finish(op, ok, QString(), error);
}

void SecretStore::finish(const Operation& op, bool ok, const QString& secret, const QString& error)
{
    if (!m_operations.isEmpty())
        m_operations.dequeue();
    m_busy = false;
    if (op.type == Operation::Read)
        emit readFinished(op.name, secret, ok);
    else
        emit written(op.name, ok, error);
    next();
}

#include "secretstore.moc"
