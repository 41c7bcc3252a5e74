#include "alarmlogquery.h"

#include "alarmeventtable.h"
#include "sqliteconnection.h"

#include <QThread>

#include <sqlite3.h>

namespace {

// A file without WAL may be locked by the writer's commit for a moment; the reader's own
// thread can wait that long.
constexpr int ReaderBusyTimeoutMs = 2000;

void registerTypes()
{
    qRegisterMetaType<AlarmEventFilter>();
    qRegisterMetaType<QVector<AlarmEventRecord>>();
}

} // namespace

struct AlarmLogReader::Connection
{
    SqliteConnection db;
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
    : path(databasePath), connection(std::make_unique<Connection>())
{
}

AlarmLogReader::~AlarmLogReader() = default;

bool AlarmLogReader::open(QString* error)
{
    if (connection->db.isOpen())
        return true;
    if (!connection->db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        *error = connection->db.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection->db.get(), ReaderBusyTimeoutMs);
    return true;
}

void AlarmLogReader::list(quint64 request, const AlarmEventFilter& filter)
{
    QVector<AlarmEventRecord> events;
    QString error;
    if (open(&error))
        AlarmEventTable::list(connection->db.get(), filter, &events, &error);
    emit listed(request, events, error);
}

void AlarmLogReader::count(quint64 request, const AlarmEventFilter& filter)
{
    QString error;
    qint64 n = -1;
    if (open(&error))
        n = AlarmEventTable::count(connection->db.get(), filter, &error);
    emit counted(request, n, error);
}
