#pragma once

#include "auditentry.h"
#include "audittrailfilter.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

class QThread;
class AuditTrailWorker;

// Questions to the project's audit trail, answered on a thread of its own with a read-only
// connection: the thread that asks (the GUI thread) never waits for the file. Answers come back
// queued with the id of their request; the asker drops answers to requests it has replaced.
class AuditTrailQuery : public QObject
{
    Q_OBJECT

public:
    explicit AuditTrailQuery(const QString& databasePath, QObject* parent = nullptr);
    // Waits for the question in progress and ends the thread.
    ~AuditTrailQuery() override;

    // A page of entries newest first, beyond the entry with sequence `after` (0: the newest).
    quint64 page(const AuditTrailFilter& filter, qint64 after, int limit);
    // The number of matching entries, the chain's head, and the users and actions named.
    quint64 summary(const AuditTrailFilter& filter);

signals:
    void paged(quint64 request, const QVector<AuditEntry>& entries, const QString& error);
    void summarized(quint64 request, qint64 count, const std::optional<AuditEntry>& head,
                    const QStringList& users, const QStringList& actions, const QString& error);

private:
    std::unique_ptr<QThread> thread;
    AuditTrailWorker* worker = nullptr;
    quint64 lastRequest = 0;
};

// The reader behind AuditTrailQuery, on its thread.
class AuditTrailWorker : public QObject
{
    Q_OBJECT

public:
    explicit AuditTrailWorker(const QString& databasePath);
    ~AuditTrailWorker() override;

    void page(quint64 request, const AuditTrailFilter& filter, qint64 after, int limit);
    void summary(quint64 request, const AuditTrailFilter& filter);

signals:
    void paged(quint64 request, const QVector<AuditEntry>& entries, const QString& error);
    void summarized(quint64 request, qint64 count, const std::optional<AuditEntry>& head,
                    const QStringList& users, const QStringList& actions, const QString& error);

private:
    struct Reader;
    std::unique_ptr<Reader> reader;
};

Q_DECLARE_METATYPE(AuditEntry)
Q_DECLARE_METATYPE(std::optional<AuditEntry>)
