#include "viewersession.h"

#include "datainterval.h"
#include "projectfile.h"
#include "summarybuilder.h"
#include "summarycache.h"
#include "viewworker.h"

#include <QFile>
#include <QThread>
#include <QTimer>

ViewerSession::ViewerSession(const QString& projectPath, const QList<ReportDeviceRecord>& devices,
                             QObject* parent)
    : QObject(parent), m_projectPath(projectPath),
      m_databasePath(ProjectFile::databasePath(projectPath))
{
    qRegisterMetaType<ViewQuery::Request>();
    qRegisterMetaType<ViewQuery::Result>();
    qRegisterMetaType<QList<QByteArray>>();
    qRegisterMetaType<QVector<AlarmEventRecord>>();
    const int interval = ProjectFile(projectPath).intValue(QStringLiteral("DataInterval"));
    m_intervalMs = interval > 0 ? interval : DefaultDataInterval;
    m_catalog.setProject(devices);
    // The mean kinetic temperature's settings sit in the alarm rules; a file whose device list
    // cannot be read has the defaults.
    ProjectData project;
    if (ProjectFile(projectPath).load(&project))
        m_catalog.setAlarmRules(project.gateways);
    m_cache = std::make_shared<SummaryCache>(m_catalog.summarySettings(intervalSeconds()));
}

ViewerSession::~ViewerSession()
{
    stop();
}

void ViewerSession::start()
{
    if (!m_viewThread && !m_stopped)
        launch();
}

void ViewerSession::launch()
{
    m_viewThread = std::make_unique<QThread>();
    m_builderThread = std::make_unique<QThread>();
    m_worker = new ViewWorker(m_databasePath, m_cache);
    m_worker->moveToThread(m_viewThread.get());
    m_builder = new SummaryBuilder(m_databasePath, m_cache);
    m_builder->setPollInterval(m_pollInterval);
    m_builder->moveToThread(m_builderThread.get());

    connect(this, &ViewerSession::queryRequested, m_worker, &ViewWorker::query);
    connect(m_worker, &ViewWorker::opened, this, &ViewerSession::workerOpened);
    connect(m_worker, &ViewWorker::ready, this, &ViewerSession::viewDone);
    connect(this, &ViewerSession::eventsRequested, m_worker, &ViewWorker::events);
    connect(m_worker, &ViewWorker::eventsReady, this, &ViewerSession::eventsReady);
    connect(m_builder, &SummaryBuilder::snapshotChecked, this, &ViewerSession::snapshotChecked);
    connect(m_builder, &SummaryBuilder::progress, this, &ViewerSession::summaryProgress);
    connect(m_builder, &SummaryBuilder::updated, this, &ViewerSession::summaryChanged);
    connect(m_builder, &SummaryBuilder::complete, this, [this]() {
        m_summaryComplete = true;
        summaryChanged();
        emit summaryComplete();
    });
    connect(m_builder, &SummaryBuilder::replaced, this, &ViewerSession::reopen);
    connect(m_viewThread.get(), &QThread::started, m_worker, &ViewWorker::open);
    connect(m_builderThread.get(), &QThread::started, m_builder, &SummaryBuilder::start);
    // The first view comes first: reading rows for the summary competes with it for the disk
    // and the processor, so the builder only takes the last session's summary until the first
    // view is answered (or a moment has passed).
    m_builder->setHeld(true);
    m_builderReleased = false;
    m_awaitingSnapshot = QFile::exists(SummaryBuilder::snapshotPath(m_databasePath));
    // Timers of a file opened before are of no concern to this one.
    const int launch = ++m_launches;
    if (m_awaitingSnapshot)
        QTimer::singleShot(SnapshotWaitMs, this, [this, launch]() {
            if (launch == m_launches)
                snapshotChecked();
        });
    m_viewThread->start();
    m_builderThread->start(QThread::LowPriority);
    QTimer::singleShot(FirstViewGraceMs, this, [this, launch]() {
        if (launch == m_launches)
            releaseBuilder();
    });
}

void ViewerSession::reopen()
{
    if (m_stopped || !m_viewThread)
        return;
    shutdown();
    // Whatever was asked of the old file is asked again by the window once the period is known.
    m_cache = std::make_shared<SummaryCache>(m_cache->emptyCopy());
    m_hasPeriod = false;
    m_summaryComplete = false;
    m_indexed = false;
    for (int slot = 0; slot < Slots; ++slot)
        m_inFlight[slot] = m_hasPending[slot] = false;
    emit databaseReplaced();
    launch();
}

void ViewerSession::snapshotChecked()
{
    if (!m_awaitingSnapshot)
        return;
    m_awaitingSnapshot = false;
    for (int slot = 0; slot < Slots; ++slot)
        if (!m_inFlight[slot])
            sendPending(slot);
}

void ViewerSession::sendPending(int slot)
{
    if (!m_hasPending[slot])
        return;
    m_hasPending[slot] = false;
    m_inFlight[slot] = true;
    emit queryRequested(m_pending[slot]);
}

void ViewerSession::releaseBuilder()
{
    if (m_stopped || m_builderReleased || !m_builder)
        return;
    m_builderReleased = true;
    QMetaObject::invokeMethod(m_builder, &SummaryBuilder::resume, Qt::QueuedConnection);
}

void ViewerSession::stop()
{
    if (m_stopped || !m_viewThread)
        return;
    m_stopped = true;
    shutdown();
}

void ViewerSession::shutdown()
{
    QMetaObject::invokeMethod(m_builder, &SummaryBuilder::stop, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_worker, &ViewWorker::close, Qt::BlockingQueuedConnection);
    m_builderThread->quit();
    m_viewThread->quit();
    m_builderThread->wait();
    m_viewThread->wait();
    delete m_builder;
    delete m_worker;
    m_builder = nullptr;
    m_worker = nullptr;
    m_builderThread.reset();
    m_viewThread.reset();
}

void ViewerSession::workerOpened(bool ok, const QString& error, bool indexed, bool hasPeriod,
                                 qint64 first, qint64 last, const QList<QByteArray>& serials)
{
    m_indexed = indexed;
    if (hasPeriod)
        extendPeriod(first, last);
    if (m_catalog.addSerials(serials))
        emit channelsChanged();
    emit opened(ok, error);
}

void ViewerSession::extendPeriod(qint64 first, qint64 last)
{
    const qint64 newFirst = m_hasPeriod ? qMin(m_first, first) : first;
    const qint64 newLast = m_hasPeriod ? qMax(m_last, last) : last;
    if (m_hasPeriod && newFirst == m_first && newLast == m_last)
        return;
    m_hasPeriod = true;
    m_first = newFirst;
    m_last = newLast;
    emit periodChanged();
}

void ViewerSession::summaryChanged()
{
    bool hasPeriod = false;
    qint64 first = 0;
    qint64 last = 0;
    QList<QByteArray> serials;
    m_cache->read([&](const SampleSummary& summary) {
        hasPeriod = summary.period(&first, &last);
        serials = summary.serials();
    });
    if (hasPeriod)
        extendPeriod(first, last);
    if (m_catalog.addSerials(serials))
        emit channelsChanged();
    emit summaryUpdated();
}

void ViewerSession::requestView(const ViewQuery::Request& request)
{
    const int slot = qBound(0, request.slot, Slots - 1);
    if (m_inFlight[slot] || m_awaitingSnapshot) {
        m_pending[slot] = request;
        m_hasPending[slot] = true;
        return;
    }
    m_inFlight[slot] = true;
    emit queryRequested(request);
}

void ViewerSession::viewDone(const ViewQuery::Result& result)
{
    if (result.slot == 0)
        releaseBuilder();
    const int slot = qBound(0, result.slot, Slots - 1);
    m_inFlight[slot] = false;
    sendPending(slot);
    emit viewReady(result);
}

quint64 ViewerSession::requestEvents(qint64 from, qint64 to)
{
    emit eventsRequested(++m_eventsRequest, from, to);
    return m_eventsRequest;
}
