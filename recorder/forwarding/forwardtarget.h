#pragma once

#include "forwardrecords.h"
#include "forwardstatus.h"

#include <QObject>

#include <memory>

class ForwardWorker;
class QThread;

// A server the records are forwarded to. The work runs on a thread of the target's own, so
// that a server that is slow, down or never answers holds up nothing of the caller's: send()
// returns at once, and everything comes back by queued signals. A record counts as sent when
// the server acknowledged it; until then the target keeps it and sends it again after a
// reconnect (at least once). The target knows no database: its caller reads the rows, hands
// them over and moves its cursor by what acknowledged() reports (see ForwardCursor).
class ForwardTarget : public QObject
{
    Q_OBJECT

public:
    ~ForwardTarget() override;

    // Thread-safe to call from the owner's thread; the batch is copied. The target holds what
    // it is given until acknowledged, so the caller bounds what it hands over (a batch or two
    // ahead of the acknowledgements).
    void send(const ForwardBatch& batch);

    // The last status reported.
    const ForwardStatus& status() const { return m_status; }

signals:
    void acknowledged(const ForwardAck& ack);
    void statusChanged(const ForwardStatus& status);

protected:
    explicit ForwardTarget(QObject* parent);
    // Takes the worker (without parent) to the target's thread and starts it; the thread
    // deletes it when it ends.
    void startWorker(ForwardWorker* worker);
    // Asks the worker to shut down and waits for its thread. Derived destructors call it first,
    // after making anything that may block return at once.
    void stopWorker();

private:
    std::unique_ptr<QThread> m_thread;
    ForwardWorker* m_worker = nullptr;
    ForwardStatus m_status;
};
