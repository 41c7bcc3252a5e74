#pragma once

#include "forwardingsettings.h"
#include "forwardworker.h"

#include <QByteArray>
#include <QUrl>

#include <atomic>
#include <deque>
#include <memory>

class QTimer;
typedef void CURL;
typedef void CURLM;

// What the owner's thread may do to a request in progress: end it at once. The owner makes
// it, and frees it only after the worker's thread has ended.
struct InfluxInterrupt
{
    InfluxInterrupt();
    ~InfluxInterrupt();
    // Thread-safe: the request in progress returns at once, and no other starts.
    void interrupt();

    std::atomic<bool> interrupted{false};
    CURLM* multi;
};

// The InfluxDB side of InfluxTarget, on the target's thread: lines wait in the order they
// came, go out in writes of up to ForwardTiming::batchLines, and leave the queue only when the
// server has answered the write. A write blocks this thread (never the owner's) for at most the
// request timeout, and the owner can cut it short.
class InfluxWorker : public ForwardWorker
{
    Q_OBJECT

public:
    InfluxWorker(const InfluxForwarding& settings, const QString& password,
                 const ForwardTiming& timing, std::shared_ptr<InfluxInterrupt> interrupt);
    ~InfluxWorker() override;

    void send(const ForwardBatch& batch) override;

private:
    struct Line
    {
        QByteArray text;
        ForwardRecordKind kind = ForwardRecordKind::Sample;
        qint64 id = 0;
        int part = 0;
    };

    struct Answer
    {
        bool done = false; // false: interrupted
        int curlCode = 0;
        long httpCode = 0;
        QByteArray body;  // at most a few KB
        bool cut = false; // the reply went on beyond that, and its transfer was ended
        QString error;
    };

    void connectTarget() override;
    // The write (or ping) that failed, again.
    void retry() override;
    void closeTarget() override;
    void countQueue(ForwardStatus& status) const override;

    // One write of the lines at the front, or a ping when none wait.
    void attempt();
    void scheduleAttempt();
    Answer request(const QUrl& url, const QByteArray* body);
    // `refused`: the server will never take them (an alarm test's answer says so).
    void acknowledgeFront(int count, bool refused = false);
    // The lines at the front the server will never take: skipped, counted, named.
    void refuseFront(int count, const QString& error);

    const InfluxForwarding m_settings;
    const QString m_password;
    const std::shared_ptr<InfluxInterrupt> m_interrupt;
    QUrl m_writeUrl;
    QUrl m_pingUrl;

    CURL* m_curl = nullptr;
    QTimer* m_attemptTimer;
    int m_batchLines;
    // The lines at the front among which one was refused (0: none known).
    int m_suspectLines = 0;

    std::deque<Line> m_waiting;
};
