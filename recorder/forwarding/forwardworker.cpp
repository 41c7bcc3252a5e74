#include "forwardworker.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

ForwardWorker::ForwardWorker(const QString& traceName, const ForwardTiming& timing)
    : m_traceName(traceName), m_timing(timing), m_retryTimer(new QTimer(this)),
      m_reportTimer(new QTimer(this)), m_backoff(timing.retryFirstMs, timing.retryMaxMs)
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &ForwardWorker::retry);
    m_reportTimer->setSingleShot(true);
    connect(m_reportTimer, &QTimer::timeout, this, &ForwardWorker::reportNow);
}

ForwardWorker::~ForwardWorker() = default;

void ForwardWorker::start()
{
    if (!m_problem.isEmpty()) {
        m_status.state = ForwardStatus::State::Failing;
        m_status.lastError = m_problem;
        qWarning().noquote() << trace("start") + m_problem;
        reportNow();
        return;
    }
    connectTarget();
}

void ForwardWorker::shutdown()
{
    closeTarget();
    m_retryTimer->stop();
    m_reportTimer->stop();
    m_status.state = ForwardStatus::State::Off;
    reportNow();
    QThread::currentThread()->quit();
}

void ForwardWorker::succeeded()
{
    m_backoff.reset();
    m_status.state = ForwardStatus::State::Connected;
}

void ForwardWorker::fail(const QString& error)
{
    const int wait = m_backoff.next();
    m_status.state = ForwardStatus::State::Failing;
    m_status.lastError = error;
    qWarning().noquote() << trace("fail") + error +
                                QStringLiteral(" (next attempt in %1 s)").arg(wait / 1000.0);
    m_retryTimer->start(wait);
    report(true);
}

bool ForwardWorker::retryPending() const
{
    return m_retryTimer->isActive();
}

void ForwardWorker::acknowledge(ForwardRecordKind kind, qint64 id, int part, bool refused)
{
    switch (kind) {
    case ForwardRecordKind::Sample:
        m_ack.samples.append({id, part});
        break;
    case ForwardRecordKind::AlarmChange:
        m_ack.alarmChanges.append(id);
        break;
    case ForwardRecordKind::AuditHead:
        m_ack.auditHead = id;
        break;
    case ForwardRecordKind::AlarmTest:
        (refused ? m_ack.alarmTestsRefused : m_ack.alarmTests).append(id);
        // Said by the target before it refuses the record.
        if (refused)
            m_ack.alarmTestRefusal = m_status.lastError;
        break;
    }
}

void ForwardWorker::report(bool now)
{
    if (now)
        reportNow();
    else if (!m_reportTimer->isActive())
        m_reportTimer->start(m_timing.reportIntervalMs);
}

void ForwardWorker::reportNow()
{
    m_reportTimer->stop();
    countQueue(m_status);
    if (!m_ack.isEmpty()) {
        emit acknowledged(m_ack);
        m_ack = ForwardAck();
    }
    if (m_status != m_reported) {
        m_reported = m_status;
        emit statusChanged(m_status);
    }
}

QString ForwardWorker::trace(const char* where) const
{
    return m_traceName + QStringLiteral("::") + QLatin1String(where) + QStringLiteral(" : ");
}
