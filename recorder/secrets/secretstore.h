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
// that a secret service that is slow, locked or silent never holds up the caller. A service that
// fails is given up for the file (backendChanged() tells); one that does not answer in time (an
// unlock prompt) is not: its secret is unavailable for now, never read as empty, and a write is
// refused rather than left in the file where later reads would miss it. The file is changed
// under a lock beside it, off the caller's thread, so that two recorders saving at once keep
// both secrets.
//
// A password is bound to the target it was typed for (a text naming host, port and login): a
// read for another target answers OtherTarget without the secret, so that a project file edited
// to name another server does not receive the stored password.
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

    enum class ReadResult
    {
        Found,
        NotFound,
        // Stored for another target (host, port or login changed): the secret is not given.
        OtherTarget,
        // The service is locked, refused or silent: the secret may exist but cannot be had now.
        Unavailable
    };
    Q_ENUM(ReadResult)

    // The status for ReadResult::Unavailable, and the error of a write the service did not take.
    static QString unavailableText();

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

    // `target` empty: the secret is not bound (a webhook URL, which is its own target). A
    // secret stored before binding existed is bound to the first target it is read for.
    void read(const QString& name, const QString& target = QString());
    void write(const QString& name, const QString& secret, const QString& target = QString());
    void remove(const QString& name);

signals:
    void backendChanged(SecretStore::Backend backend);
    // The secret is empty unless `result` is Found.
    void readFinished(const QString& name, const QString& secret, SecretStore::ReadResult result);
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
        QString target;
        // A legacy secret bound on its first read: its answer is nobody's business.
        bool quiet = false;
        // The service gave no answer in time or failed: a name missing in the file may still
        // be in the service.
        bool serviceMissed = false;
        // A binding write that answers the read it came from once it is saved (the secret as
        // read), so that no other reader finds the secret unbound meanwhile.
        bool answersRead = false;
        QString readSecret;
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
    void fileAnswered(const Operation& op, bool ok, bool found, const QString& raw,
                      const QString& error);
    void finishRead(const Operation& op, ReadResult result, const QString& secret);
    void finishWrite(const Operation& op, bool ok, const QString& error);
    // What the file or the service holds for a write with a target.
    static QString stored(const QString& secret, const QString& target);
    QString serviceKey(const QString& name) const;

    QString m_project;
    Backend m_backend = Backend::Undecided;
    int m_timeoutMs = 5000;
    QQueue<Operation> m_operations;
    bool m_busy = false;
    // The service failed and the file took over: what the service held is out of reach.
    bool m_serviceLost = false;
    QTimer* m_serviceTimer = nullptr;
    QThread* m_thread = nullptr;
    KeychainWorker* m_worker = nullptr;
    // Counts service requests, so that the answer to one given up is ignored.
    quint64 m_request = 0;
};
