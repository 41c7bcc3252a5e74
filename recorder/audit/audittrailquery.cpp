#include "audittrailquery.h"

#include "audittrailreader.h"

#include <QThread>

struct AuditTrailWorker::Reader
{
    explicit Reader(const QString& path) : reader(path) {}
    AuditTrailReader reader;
};

AuditTrailQuery::AuditTrailQuery(const QString& databasePath, QObject* parent)
    : QObject(parent), thread(std::make_unique<QThread>())
{
    qRegisterMetaType<QVector<AuditEntry>>();
    qRegisterMetaType<std::optional<AuditEntry>>();
    thread->setObjectName(QStringLiteral("audit trail"));
    worker = new AuditTrailWorker(databasePath);
    worker->moveToThread(thread.get());
    connect(worker, &AuditTrailWorker::paged, this, &AuditTrailQuery::paged, Qt::QueuedConnection);
    connect(worker, &AuditTrailWorker::summarized, this, &AuditTrailQuery::summarized,
            Qt::QueuedConnection);
    thread->start();
}

AuditTrailQuery::~AuditTrailQuery()
{
    thread->quit();
    thread->wait();
    delete worker;
}

quint64 AuditTrailQuery::page(const AuditTrailFilter& filter, qint64 after, int limit)
{
    const quint64 request = ++lastRequest;
    QMetaObject::invokeMethod(
        worker, [w = worker, request, filter, after, limit] { w->page(request, filter, after, limit); },
        Qt::QueuedConnection);
    return request;
}

quint64 AuditTrailQuery::summary(const AuditTrailFilter& filter)
{
    const quint64 request = ++lastRequest;
    QMetaObject::invokeMethod(
        worker, [w = worker, request, filter] { w->summary(request, filter); },
        Qt::QueuedConnection);
    return request;
}

AuditTrailWorker::AuditTrailWorker(const QString& databasePath)
    : reader(std::make_unique<Reader>(databasePath))
{
}

AuditTrailWorker::~AuditTrailWorker() = default;

void AuditTrailWorker::page(quint64 request, const AuditTrailFilter& filter, qint64 after,
                            int limit)
{
    QVector<AuditEntry> entries;
    QString error;
    reader->reader.page(filter, AuditTrailOrder::NewestFirst, after, limit, &entries, &error);
    emit paged(request, entries, error);
}

void AuditTrailWorker::summary(quint64 request, const AuditTrailFilter& filter)
{
    QString error;
    std::optional<AuditEntry> head;
    QStringList users, actions;
    const qint64 count = reader->reader.count(filter, &error);
    if (count >= 0 && reader->reader.head(&head, &error))
        reader->reader.names(&users, &actions, &error);
    emit summarized(request, count, head, users, actions, error);
}
