#include "viewworker.h"

#include "samplestore.h"
#include "summarycache.h"

ViewWorker::ViewWorker(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                       QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache))
{
}

ViewWorker::~ViewWorker() = default;

void ViewWorker::open()
{
    m_store = std::make_unique<SampleStore>();
    if (!m_store->open(m_databasePath)) {
        emit opened(false, m_store->lastError(), false, false, 0, 0, {});
        return;
    }
    m_query = std::make_unique<ViewQuery>(m_store.get(), m_cache.get());
    const bool hasTable = m_store->hasTable();
    const bool indexed = hasTable && m_store->hasIndex();
    qint64 first = 0;
    qint64 last = 0;
    QList<QByteArray> serials;
    // Without the index both would scan the whole table; the summary learns them instead.
    const bool hasPeriod = indexed && m_store->recordedPeriod(&first, &last);
    if (indexed)
        m_store->serials(&serials);
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

void ViewWorker::close()
{
    m_query.reset();
    m_store.reset();
}
