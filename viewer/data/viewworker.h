#pragma once

#include "alarmeventrecord.h"
#include "viewquery.h"

#include <QList>
#include <QObject>

#include <memory>
#include <vector>

class ViewerSampleReader;
class SummaryCache;

// Answers view requests on a thread of its own with its own read-only connection, so the
// window never waits for a query.
class ViewWorker : public QObject
{
    Q_OBJECT

public:
    ViewWorker(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
               QObject* parent = nullptr);
    ~ViewWorker() override;

public slots:
    void open();
    void query(const ViewQuery::Request& request);
    // The alarm events that lasted into [from, to]; none in a file without the event log.
    void events(quint64 id, qint64 from, qint64 to);
    void close();

signals:
    // hasPeriod is false for an empty table (or a file without it).
    void opened(bool ok, const QString& error, bool indexed, bool hasPeriod, qint64 first,
                qint64 last, const QList<QByteArray>& serials);
    void ready(const ViewQuery::Result& result);
    void eventsReady(quint64 id, const QVector<AlarmEventRecord>& events, const QString& error);

private:
    QString m_databasePath;
    std::shared_ptr<SummaryCache> m_cache;
    // The first connection answers the questions about the file; all of them read rows.
    std::vector<std::unique_ptr<ViewerSampleReader>> m_stores;
    std::unique_ptr<ViewQuery> m_query;
};
