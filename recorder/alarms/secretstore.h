#pragma once

#include <QObject>
#include <QQueue>
#include <QString>

class KeychainWorker;
class QThread;
class QTimer;

// The user's passwords and webhook URLs for notifications, kept per project outside the
// project file and the database (both are shared and copied). They go to the desktop's secret
// service (through QtKeychain) where one runs, else to a file in the user's config folder that
// only the user may read (file 0600, folder 0700). Every call answers later through a signal, so
// that a secret service that is slow, locked or silent never holds up the caller; such a service
// is given up after a bounded wait and the file is used instead, which backendChanged() tells.
class SecretStore : public QObject
{
    Q_OBJECT

public:
    enum class Backend
    {
        Undecided,
        SecretService,
        File
    };
    Q_ENUM(Backend)

    // `project` keeps one project's secrets apart from another's (its file's path, say).
    explicit SecretStore(const QString& project, QObject* parent = nullptr);
    ~SecretStore() override;

    // Undecided until the look for a secret service has answered.
    Backend backend() const { return m_backend; }
    // Where secrets are kept, for the user: the secret service, or the file with its path.
    QString location() const;
    // The file used without a secret service.
    static QString filePath();

    // Decides without looking for a service (still falling back to the file when the service
    // fails).
    void setBackend(Backend backend);
    // How long one request to the secret service may take before the file is used instead.
    void setServiceTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    void read(const QString& name);
    void write(const QString& name, const QString& secret);
    void remove(const QString& name);

signals:
    void backendChanged(SecretStore::Backend backend);
    // `found` is false for a name never written (secret empty then) and for a refusal.
    void readFinished(const QString& name, const QString& secret, bool found);
    // Answers write() and remove().
    void written(const QString& name, bool ok, const QString& error);

private:
    struct Operation
    {
        enum Type
        {
            Read,
            Write,
            Remove
        } type;
        QString name;
        QString secret;
    };

    void decide(Backend backend);
    void next();
    void runWithService(const Operation& op);
    void serviceFinished(const Operation& op, int error, const QString& errorText,
                         const QString& secret);
    // The service gave no answer in time.
    static constexpr int NoAnswer = -1;
    // Traces why (a QtKeychain error code, or NoAnswer) and turns to the file for good.
    void useFileInstead(int keychainError);
    void runWithFile(const Operation& op);
    void finish(const Operation& op, bool ok, const QString& secret, const QString& error);
    QString serviceKey(const QString& name) const;

    QString m_project;
    Backend m_backend = Backend::Undecided;
    int m_timeoutMs = 5000;
    QQueue<Operation> m_operations;
    bool m_busy = false;
    QTimer* m_serviceTimer = nullptr;
    QThread* m_thread = nullptr;
    KeychainWorker* m_worker = nullptr;
    // Counts service requests, so that the answer to one given up is ignored.
    quint64 m_request = 0;
};
