#include "alarmlogquery.h"

#include "alarmeventreader.h"

#include <QThread>

namespace {

void registerTypes()
{
    qRegisterMetaType<AlarmEventFilter>();
    qRegisterMetaType<QVector<AlarmEventRecord>>();
}

} // namespace

// The reader's thread can wait for a commit of the writer's (AlarmEventReader::BusyTimeoutMs).
struct AlarmLogReader::Connection
{
    explicit Connection(const QString& path) : reader(path) {}
    AlarmEventReader reader;
};

AlarmLogQuery::AlarmLogQuery(const QString& databasePath, QObject* parent)
    : QObject(parent), thread(std::make_unique<QThread>())
{
    registerTypes();
    thread->setObjectName(QStringLiteral("alarm log"));
    reader = new AlarmLogReader(databasePath);
    reader->moveToThread(thread.get());
    connect(reader, &AlarmLogReader::listed, this, &AlarmLogQuery::listed, Qt::QueuedConnection);
    connect(reader, &AlarmLogReader::counted, this, &AlarmLogQuery::counted, Qt::QueuedConnection);
    thread->start();
}

AlarmLogQuery::~AlarmLogQuery()
{
    thread->quit();
    thread->wait();
    delete reader;
}

quint64 AlarmLogQuery::list(const AlarmEventFilter& filter)
{
    const quint64 request = ++lastRequest;
    QMetaObject::invokeMethod(
        reader, [r = reader, request, filter] { r->list(request, filter); }, Qt::QueuedConnection);
    return request;
}

quint64 AlarmLogQuery::count(const AlarmEventFilter& filter)
{
    const quint64 request = ++lastRequest;
    QMetaObject::invokeMethod(
        reader, [r = reader, request, filter] { r->count(request, filter); }, Qt::QueuedConnection);
    return request;
}

AlarmLogReader::AlarmLogReader(const QString& databasePath)
    : connection(std::make_unique<Connection>(databasePath))
{
}

AlarmLogReader::~AlarmLogReader() = default;

void AlarmLogReader::list(quint64 request, const AlarmEventFilter& filter)
{
    QVector<AlarmEventRecord> events;
    QString error;
    connection->reader.list(filter, &events, &error);
    emit listed(request, events, error);
}

void AlarmLogReader::count(quint64 request, const AlarmEventFilter& filter)
{
    QString error;
    const qint64 n = connection->reader.count(filter, &error);
    emit counted(request, n, error);
}
