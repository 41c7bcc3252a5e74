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
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
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

// What one file operation found, made on a thread of the pool.
struct FileAnswer
{
    bool ok = false;
    bool found = false;
    QString secret;
    QString error;
};

// The file's lock waits at most this long for another recorder's save (a few milliseconds).
constexpr int FileLockWaitMs = 10000;

// One read, write or removal of one project's name, the whole read-modify-write under a lock
// beside the file, so that two recorders (or two stores) saving at once never lose a secret.
// `type`: 0 read, 1 write, 2 remove.
FileAnswer fileOperation(const QString& project, int type, const QString& name,
                         const QString& secret)
{
    FileAnswer answer;
    const QString folder = folderPath();
    if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, OwnerOnlyFolder)) {
        answer.error = QStringLiteral("Cannot make the folder ") + folder;
        return answer;
    }
    QLockFile lock(SecretStore::filePath() + QStringLiteral(".lock"));
    if (!lock.tryLock(FileLockWaitMs)) {
        answer.error = QStringLiteral("The secrets file is locked by another program: ") +
                       SecretStore::filePath();
        return answer;
    }
    QJsonObject all;
    if (!loadFile(&all, &answer.error))
        return answer;
    QJsonObject entries = all.value(project).toObject();
    if (type == 0) {
        const QJsonValue value = entries.value(name);
        answer.ok = true;
        answer.found = value.isString();
        answer.secret = value.toString();
        return answer;
    }
    if (type == 1) {
        entries.insert(name, secret);
    } else if (entries.contains(name)) {
        entries.remove(name);
    } else {
        answer.ok = true;
        return answer;
    }
    if (entries.isEmpty())
        all.remove(project);
    else
        all.insert(project, entries);
    answer.ok = saveFile(all, &answer.error);
    return answer;
}

// The file's reads and saves run here, not on the global pool, where the look for a secret
// service (or any long task of the program) could keep them waiting. More than one thread, so
// that stores of one process contend for the file's lock as two recorders do.
QThreadPool* fileThreads()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(4);
        return p;
    }();
    return pool;
}

// A bound secret as stored: a marker no typed password starts with, then the target and the
// secret as JSON.
const QString BoundMarker = QStringLiteral("quillmar-bound-secret:");

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
    qRegisterMetaType<SecretStore::ReadResult>();
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

QString SecretStore::unavailableText()
{
    return QStringLiteral("Secret service locked: password not available");
}

QString SecretStore::stored(const QString& secret, const QString& target)
{
    if (target.isEmpty())
        return secret;
    const QJsonObject bound{{QStringLiteral("target"), target}, {QStringLiteral("secret"), secret}};
    return BoundMarker + QString::fromUtf8(QJsonDocument(bound).toJson(QJsonDocument::Compact));
}

void SecretStore::read(const QString& name, const QString& target)
{
    m_operations.enqueue({Operation::Read, name, QString(), target, false, false, false, QString()});
    next();
}

void SecretStore::write(const QString& name, const QString& secret, const QString& target)
{
    m_operations.enqueue(
        {Operation::Write, name, stored(secret, target), QString(), false, false, false, QString()});
    next();
}

void SecretStore::remove(const QString& name)
{
    m_operations.enqueue(
        {Operation::Remove, name, QString(), QString(), false, false, false, QString()});
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
        runWithFile(op);
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
        if (request != m_request || m_operations.isEmpty())
            return;
        ++m_request;
        // A prompt to unlock the service may be open: the service stays the store, and the
        // secret is unavailable for now rather than looked for (or put) where it is not.
        qWarning().noquote() << QStringLiteral("SecretStore : secret service gave no answer "
                                               "within %1 ms")
                                    .arg(m_timeoutMs);
        Operation asked = m_operations.head();
        if (asked.type == Operation::Read) {
            // A copy the file kept from a time without the service still counts.
            asked.serviceMissed = true;
            runWithFile(asked);
        } else {
            finishWrite(asked, false, unavailableText());
        }
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
        if (op.type != Operation::Read && QFile::exists(filePath())) {
            // A copy left in the file from a time without the service is no longer needed.
            QtConcurrent::run(fileThreads(), fileOperation, m_project, 2, op.name, QString());
        }
        if (op.type == Operation::Read)
            fileAnswered(op, true, true, secret, QString());
        else
            finishWrite(op, true, QString());
        return;
    case QKeychain::EntryNotFound:
        // Written while no service ran, or never written.
        if (op.type == Operation::Read)
            runWithFile(op);
        else
            finishWrite(op, true, QString());
        return;
    case QKeychain::AccessDeniedByUser:
        // The user said no: that is an answer, not a broken service, and no empty secret.
        if (op.type == Operation::Read)
            finishRead(op, ReadResult::Unavailable, QString());
        else
            finishWrite(op, false, errorText);
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
    m_serviceLost = true;
    decide(Backend::File);
}

// On a thread of the pool: the file's lock may wait for another recorder's save.
void SecretStore::runWithFile(const Operation& op)
{
    auto* watcher = new QFutureWatcher<FileAnswer>(this);
    connect(watcher, &QFutureWatcher<FileAnswer>::finished, this, [this, watcher, op] {
        const FileAnswer answer = watcher->result();
        watcher->deleteLater();
        fileAnswered(op, answer.ok, answer.found, answer.secret, answer.error);
    });
    watcher->setFuture(QtConcurrent::run(fileThreads(), fileOperation, m_project, int(op.type),
                                         op.name, op.secret));
}

void SecretStore::fileAnswered(const Operation& op, bool ok, bool found, const QString& raw,
                               const QString& error)
{
    if (op.type != Operation::Read) {
        finishWrite(op, ok, error);
        return;
    }
    if (!ok) {
        // The file's error or one of this store's own texts: never the secret itself.
        qWarning().noquote() << QStringLiteral("SecretStore : ") + error;
        finishRead(op, ReadResult::Unavailable, QString());
        return;
    }
    if (!found) {
        // Missing from the file, but perhaps kept by a service that cannot be asked now.
        finishRead(
            op, op.serviceMissed || m_serviceLost ? ReadResult::Unavailable : ReadResult::NotFound,
            QString());
        return;
    }
    if (!raw.startsWith(BoundMarker)) {
        if (!op.target.isEmpty()) {
            // Stored before secrets were bound: bound now to the target the project names, and
            // the read answered once that is saved. Quiet: nobody asked for this write.
            const Operation bind{Operation::Write, op.name, stored(raw, op.target), QString(),
                                 true, false, true, raw};
            if (!m_operations.isEmpty())
                m_operations.head() = bind;
            else
                m_operations.enqueue(bind);
            m_busy = false;
            next();
            return;
        }
        finishRead(op, ReadResult::Found, raw);
        return;
    }
    const QJsonObject bound =
        QJsonDocument::fromJson(raw.mid(BoundMarker.size()).toUtf8()).object();
    const QString target = bound.value(QStringLiteral("target")).toString();
    if (!op.target.isEmpty() && target != op.target) {
        finishRead(op, ReadResult::OtherTarget, QString());
        return;
    }
    finishRead(op, ReadResult::Found, bound.value(QStringLiteral("secret")).toString());
}

void SecretStore::finishRead(const Operation& op, ReadResult result, const QString& secret)
{
    if (!m_operations.isEmpty())
        m_operations.dequeue();
    m_busy = false;
    emit readFinished(op.name, result == ReadResult::Found ? secret : QString(), result);
    next();
}

void SecretStore::finishWrite(const Operation& op, bool ok, const QString& error)
{
    if (!m_operations.isEmpty())
        m_operations.dequeue();
    m_busy = false;
    if (!op.quiet)
        emit written(op.name, ok, error);
    // The secret was read whether its binding was saved or not.
    if (op.answersRead)
        emit readFinished(op.name, op.readSecret, ReadResult::Found);
    next();
}

#include "secretstore.moc"
