#include "forwardtarget.h"

#include "forwardworker.h"

#include <QThread>

ForwardTarget::ForwardTarget(QObject* parent) : QObject(parent)
{
    registerForwardingTypes();
}

ForwardTarget::~ForwardTarget()
{
    stopWorker();
}

void ForwardTarget::send(const ForwardBatch& batch)
{
    if (m_worker && !batch.isEmpty())
        QMetaObject::invokeMethod(
            m_worker, [worker = m_worker, batch] { worker->send(batch); }, Qt::QueuedConnection);
}

void ForwardTarget::startWorker(ForwardWorker* worker)
{
    m_thread = std::make_unique<QThread>();
    m_worker = worker;
    worker->moveToThread(m_thread.get());
    connect(m_thread.get(), &QThread::started, worker, &ForwardWorker::start);
    connect(m_thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &ForwardWorker::acknowledged, this, &ForwardTarget::acknowledged);
    connect(worker, &ForwardWorker::statusChanged, this, &ForwardTarget::statusChanged);
    connect(this, &ForwardTarget::statusChanged, this,
            [this](const ForwardStatus& status) { m_status = status; });
    m_thread->start();
}

void ForwardTarget::stopWorker()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(m_worker, &ForwardWorker::shutdown, Qt::QueuedConnection);
    m_thread->wait();
    m_thread.reset();
    m_worker = nullptr;
}
