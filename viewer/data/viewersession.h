#pragma once

#include "channelcatalog.h"
#include "viewquery.h"

#include <QObject>
#include <QString>

#include <memory>

class QThread;
class SummaryBuilder;
class SummaryCache;
class ViewWorker;

// One viewing session of a project: the channel list, the recorded period, the summary kept
// current on its thread, and the view queries answered on another. The window asks for views
// and gets them back as signals; while one query runs, only the newest further request is kept.
class ViewerSession : public QObject
{
    Q_OBJECT

public:
    ViewerSession(const QString& projectPath, const QList<ReportDeviceRecord>& devices,
                  QObject* parent = nullptr);
    ~ViewerSession() override;

    void setPollInterval(int milliseconds) { m_pollInterval = milliseconds; }
    void start();
    // Saves the summary and ends both threads; called by the destructor at the latest.
    void stop();

    QString projectPath() const { return m_projectPath; }
    QString databasePath() const { return m_databasePath; }
    int intervalMilliseconds() const { return m_intervalMs; }
    int intervalSeconds() const { return qMax(1, m_intervalMs / 1000); }
    const ChannelCatalog& catalog() const { return m_catalog; }
    bool isIndexed() const { return m_indexed; }
    bool hasPeriod() const { return m_hasPeriod; }
    qint64 firstTime() const { return m_first; }
    qint64 lastTime() const { return m_last; }
    bool isSummaryComplete() const { return m_summaryComplete; }
    std::shared_ptr<SummaryCache> cache() const { return m_cache; }

    // Requests of one slot replace each other while one of that slot is being answered.
    static constexpr int Slots = 2;
    static constexpr int FirstViewGraceMs = 1500;
    // With a summary from an earlier session the first charts wait for it (it answers in
    // milliseconds once taken), but never longer than this.
    static constexpr int SnapshotWaitMs = 1200;
    void requestView(const ViewQuery::Request& request);
    // Asks for the alarm events that lasted into [from, to]; eventsReady() answers with the id
    // returned here.
    quint64 requestEvents(qint64 from, qint64 to);

signals:
    void opened(bool ok, const QString& error);
    void periodChanged();
    void channelsChanged();
    void summaryProgress(qint64 done, qint64 total);
    void summaryUpdated();
    void summaryComplete();
    // Another file lies under the database's path now (a backup put back): it was opened
    // instead, and the period and summary are learnt from it afresh.
    void databaseReplaced();
    void viewReady(const ViewQuery::Result& result);
    void eventsReady(quint64 id, const QVector<AlarmEventRecord>& events, const QString& error);
    // Internal: carries event requests to the view thread.
    void eventsRequested(quint64 id, qint64 from, qint64 to);
    // Internal: carries requests to the view thread.
    void queryRequested(const ViewQuery::Request& request);

private:
    void launch();
    void shutdown();
    void reopen();
    void releaseBuilder();
    void snapshotChecked();
    // Sends the request kept for the slot, if any.
    void sendPending(int slot);
    void workerOpened(bool ok, const QString& error, bool indexed, bool hasPeriod, qint64 first,
                      qint64 last, const QList<QByteArray>& serials);
    void viewDone(const ViewQuery::Result& result);
    void summaryChanged();
    void extendPeriod(qint64 first, qint64 last);

    QString m_projectPath;
    QString m_databasePath;
    int m_intervalMs = 1000;
    int m_pollInterval = 2000;
    ChannelCatalog m_catalog;
    std::shared_ptr<SummaryCache> m_cache;
    std::unique_ptr<QThread> m_viewThread;
    std::unique_ptr<QThread> m_builderThread;
    ViewWorker* m_worker = nullptr;
    SummaryBuilder* m_builder = nullptr;
    bool m_indexed = false;
    bool m_hasPeriod = false;
    qint64 m_first = 0;
    qint64 m_last = 0;
    bool m_summaryComplete = false;
    bool m_inFlight[Slots] = {false, false};
    bool m_hasPending[Slots] = {false, false};
    ViewQuery::Request m_pending[Slots];
    bool m_stopped = false;
    bool m_builderReleased = false;
    bool m_awaitingSnapshot = false;
    int m_launches = 0;
    quint64 m_eventsRequest = 0;
};
