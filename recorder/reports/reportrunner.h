#pragma once

#include "reportrunrecord.h"
#include "scheduledperiod.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QProcess;
class QTemporaryFile;
class QTimer;
struct WriteJob;

// Makes scheduled reports one at a time with the report generator in a process of its own
// (`Tallyforge --report KIND --start DAY --pdf FILE PROJECT`), never waiting on the caller's
// thread, each bounded by a timeout; the PDF is written into a temporary file in `cacheFolder`
// and removed once read. A made report is handed to `mail`; each outcome goes to the project's
// writer as the period's row (WriteJob::reportRun) and to the audit trail. A failed run (the
// program missing, exiting with an error, timing out, no file) is tried again after a back-off
// that doubles up to an hour, and shown in note() until it is made.
class ReportRunner : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Submit = std::function<void(const WriteJob& job)>;
    // Hands the PDF to the outbox: empty when queued, otherwise why it is not mailed (the
    // report is then recorded as too large or failed, as the text says).
    using Mail = std::function<QString(const ScheduledPeriod& period, const QByteArray& pdf)>;
    // An audit trail entry of the recorder: its action, object and new value.
    using Audit =
        std::function<void(const QString& action, const QString& object, const QString& value)>;

    static constexpr int DefaultTimeoutMs = 5 * 60 * 1000;
    static constexpr int FirstRetryMs = 60 * 1000;
    static constexpr int LongestRetryMs = 60 * 60 * 1000;
    // The largest PDF read back: anything bigger is no report of ours.
    static constexpr qint64 MaxPdfBytes = 256LL * 1024 * 1024;

    ReportRunner(const QString& projectPath, const QString& cacheFolder, QObject* parent = nullptr);
    ~ReportRunner() override;

    void setProgram(const QString& program) { m_program = program; }
    const QString& program() const { return m_program; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    void setRetryDelays(int firstMs, int longestMs);
    void setClock(const Clock& clock) { m_clock = clock; }
    void setSubmit(const Submit& submit) { m_submit = submit; }
    void setMail(const Mail& mail) { m_mail = mail; }
    void setAudit(const Audit& audit) { m_audit = audit; }

    // Queues the periods not queued, running or waiting for a retry already.
    void enqueue(const QVector<ScheduledPeriod>& periods);
    // The mail of a period's report left the outbox: `row` (state sent) is recorded, with its
    // audit entry.
    void recordDelivery(const ReportRunRecord& row);
    // Whether the period is queued, running or waiting for a retry.
    bool holds(const QString& key) const;
    // The rows of this run's outcomes by period, as handed to the writer.
    const QHash<QString, ReportRunRecord>& outcomes() const { return m_outcomes; }
    bool isBusy() const;

    // For the status bar: the failed reports waiting for their retry, or a report that could
    // not be mailed; empty while all is well.
    QString note() const;

    // "2026-11-01 to 2026-11-30 monthly report"-style object of the audit entries.
    static QString auditObject(const ScheduledPeriod& period);
    // The program's arguments for a period.
    QStringList arguments(const ScheduledPeriod& period, const QString& pdfPath) const;

signals:
    void noteChanged(const QString& note);
    // A run ended: made (and handed to the outbox), failed or too large.
    void finished(const ReportRunRecord& row);

private:
    void startNext();
    void processEnded(bool started, int exitCode, const QString& why);
    void record(const ReportRunRecord& row);
    void retryLater(const ScheduledPeriod& period, const QString& error);
    void retryTick();
    void updateNote();
    qint64 nowMs() const;

    QString m_projectPath;
    QString m_cacheFolder;
    QString m_program;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_firstRetryMs = FirstRetryMs;
    int m_longestRetryMs = LongestRetryMs;
    Clock m_clock;
    QElapsedTimer m_monotonic;
    Submit m_submit;
    Mail m_mail;
    Audit m_audit;

    QVector<ScheduledPeriod> m_queue;
    struct Waiting
    {
        ScheduledPeriod period;
        qint64 atMs = 0; // on m_monotonic: a clock set back or forth changes no wait
        QDateTime shownAt;
        QString error;
    };
    QVector<Waiting> m_waiting;
    ScheduledPeriod m_current;
    bool m_running = false;
    QProcess* m_process = nullptr;
    QTemporaryFile* m_file = nullptr;
    QTimer* m_timeout = nullptr;
    QTimer* m_retry = nullptr;
    QHash<QString, ReportRunRecord> m_outcomes;
    QString m_refusal; // the last report not mailed, until one is
    QString m_note;
};
