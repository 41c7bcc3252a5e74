#include "viewworker.h"

#include "summarycache.h"
#include "viewersamplereader.h"

#include <QThread>

ViewWorker::ViewWorker(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                       QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache))
{
}

ViewWorker::~ViewWorker() = default;

void ViewWorker::open()
{
    const int connections = qBound(1, QThread::idealThreadCount(), 4);
    std::vector<ViewerSampleReader*> stores;
    for (int i = 0; i < connections; ++i) {
        m_stores.push_back(std::make_unique<ViewerSampleReader>());
        if (!m_stores.back()->open(m_databasePath, ViewerSampleReader::ViewerBusyTimeoutMs)) {
            emit opened(false, m_stores.back()->errorText(), false, false, 0, 0, {});
            m_stores.clear();
            return;
        }
        stores.push_back(m_stores.back().get());
    }
    m_query = std::make_unique<ViewQuery>(stores, m_cache.get());
    ViewerSampleReader* store = stores.front();
    const bool hasTable = store->hasTable();
    const bool indexed = hasTable && store->hasIndex();
    qint64 first = 0;
    qint64 last = 0;
    QList<QByteArray> serials;
    // Without the index both would scan the whole table; the summary learns them instead.
    const bool hasPeriod = indexed && store->recordedPeriod(&first, &last);
    if (indexed)
        store->serials(&serials);
    emit opened(true, QString(), indexed, hasPeriod, first, last, serials);
}

void ViewWorker::query(const ViewQuery::Request& request)
{
    if (!m_query) {
        ViewQuery::Result empty;
        empty.id = request.id;
        empty.slot = request.slot;
        empty.from = request.from;
        empty.to = request.to;
        emit ready(empty);
        return;
    }
    emit ready(m_query->run(request));
}

void ViewWorker::events(quint64 id, qint64 from, qint64 to)
{
    QVector<AlarmEventRecord> found;
    if (m_stores.empty()) {
        emit eventsReady(id, found, QString());
        return;
    }
    ViewerSampleReader* store = m_stores.front().get();
    const bool ok = store->alarmEvents(from, to, {}, &found);
    emit eventsReady(id, found, ok ? QString() : store->errorText());
}

void ViewWorker::close()
{
    m_query.reset();
    m_stores.clear();
}
