#pragma once

#include "forwardrecords.h"
#include "forwardstatus.h"
#include "forwardtiming.h"
#include "retrybackoff.h"

#include <QObject>
#include <QString>

class QTimer;

// The part of a target that lives on the target's thread; only queued calls reach it. A target
// implements only its protocol: connecting, writing what waits and closing; this base carries
// what every target does alike: the settings check at the start, the status and its reports,
// the acknowledgements gathered, the back-off after a failure and the retry after it.
class ForwardWorker : public QObject
{
    Q_OBJECT

public:
    ~ForwardWorker() override;

public slots:
    // First thing on the thread: a target whose settings make connecting pointless says so and
    // stays failing; any other connects.
    void start();
    virtual void send(const ForwardBatch& batch) = 0;
    // Leaves the server as it should be left, without waiting for it, and ends the thread.
    void shutdown();

signals:
    void acknowledged(const ForwardAck& ack);
    void statusChanged(const ForwardStatus& status);

protected:
    // `traceName` starts each trace line ("<name>::fail : ...").
    ForwardWorker(const QString& traceName, const ForwardTiming& timing);

    // The target's own part.
    virtual void connectTarget() = 0;
    // After the back-off: the attempt that failed, again.
    virtual void retry() = 0;
    // Ends whatever is open or under way, for good.
    virtual void closeTarget() = 0;
    // The counters of the queue as they stand, into the status.
    virtual void countQueue(ForwardStatus& status) const = 0;

    // A setting that makes connecting pointless; set before start().
    void setProblem(const QString& problem) { m_problem = problem; }
    const QString& problem() const { return m_problem; }

    // The server took the attempt: the next failure waits the first wait again.
    void succeeded();
    // Shown in the status and the trace; retry() follows after the back-off. The caller has
    // dropped what the attempt left open.
    void fail(const QString& error);
    bool retryPending() const;

    // A record the server has (or refused for good): passed on with the next report. An alarm
    // test's answer tells which of the two it was.
    void acknowledge(ForwardRecordKind kind, qint64 id, int part, bool refused = false);
    // Passes on acknowledgements and counters: at once, or gathered for a short while.
    void report(bool now);
    void reportNow();

    QString trace(const char* where) const;
    const ForwardTiming& timing() const { return m_timing; }
    ForwardStatus& status() { return m_status; }
    const ForwardStatus& reported() const { return m_reported; }

private:
    const QString m_traceName;
    const ForwardTiming m_timing;
    QString m_problem;
    QTimer* m_retryTimer;
    QTimer* m_reportTimer;
    RetryBackoff m_backoff;
    ForwardAck m_ack;
    ForwardStatus m_status;
    ForwardStatus m_reported;
};
