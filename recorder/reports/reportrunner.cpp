#include "reportrunner.h"

#include "writejob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>

namespace {

// The first line the program wrote on its error output, bounded, for the row and the note.
QString firstLine(const QByteArray& output)
{
    const QString text = QString::fromUtf8(output.left(2000)).trimmed();
    return text.section(QLatin1Char('\n'), 0, 0).left(200);
}

bool isSizeRefusal(const QString& refusal)
{
    return refusal.startsWith(QLatin1String("Report too large"));
}

} // namespace

ReportRunner::ReportRunner(const QString& projectPath, const QString& cacheFolder, QObject* parent)
    : QObject(parent), m_projectPath(projectPath), m_cacheFolder(cacheFolder),
      m_timeout(new QTimer(this)), m_retry(new QTimer(this))
{
    qRegisterMetaType<ReportRunRecord>();
    m_monotonic.start();
    m_timeout->setSingleShot(true);
    m_retry->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        if (m_process)
            m_process->kill(); // finished() follows, with the timeout's text
    });
    connect(m_retry, &QTimer::timeout, this, &ReportRunner::retryTick);
}

ReportRunner::~ReportRunner()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
    delete m_file;
}

void ReportRunner::setRetryDelays(int firstMs, int longestMs)
{
    m_firstRetryMs = std::max(1, firstMs);
    m_longestRetryMs = std::max(m_firstRetryMs, longestMs);
}

qint64 ReportRunner::nowMs() const
{
    return (m_clock ? m_clock() : QDateTime::currentDateTime()).toMSecsSinceEpoch();
}

bool ReportRunner::holds(const QString& key) const
{
    if (m_running && m_current.key() == key)
        return true;
    for (const ScheduledPeriod& p : m_queue) {
        if (p.key() == key)
            return true;
    }
    for (const Waiting& w : m_waiting) {
        if (w.period.key() == key)
            return true;
    }
    return false;
}

bool ReportRunner::isBusy() const
{
    return m_running || !m_queue.isEmpty();
}

void ReportRunner::enqueue(const QVector<ScheduledPeriod>& periods)
{
    for (const ScheduledPeriod& p : periods) {
        if (!holds(p.key()))
            m_queue << p;
    }
    // A call from the caller's loop: the process starts from the event loop.
    QTimer::singleShot(0, this, &ReportRunner::startNext);
}

QStringList ReportRunner::arguments(const ScheduledPeriod& period, const QString& pdfPath) const
{
    return {QStringLiteral("--report"),
            ReportScheduleSettings::kindName(period.kind),
            QStringLiteral("--start"),
            period.first.toString(Qt::ISODate),
            QStringLiteral("--pdf"),
            pdfPath,
            m_projectPath};
}

QString ReportRunner::auditObject(const ScheduledPeriod& period)
{
    return ReportScheduleSettings::kindTitle(period.kind).toLower() + QLatin1Char(' ') +
           period.periodText();
}

void ReportRunner::startNext()
{
    if (m_running || m_queue.isEmpty())
        return;
    m_current = m_queue.takeFirst();
    m_running = true;

    if (m_program.isEmpty() || !QFileInfo(m_program).isExecutable()) {
        processEnded(false, -1, QStringLiteral("the report generator Tallyforge was not found"));
        return;
    }
    QDir().mkpath(m_cacheFolder);
    delete m_file;
    m_file = new QTemporaryFile(m_cacheFolder + QStringLiteral("/report-XXXXXX.pdf"));
    if (!m_file->open()) {
        processEnded(false, -1,
                     QStringLiteral("no temporary file in ") + m_cacheFolder +
                         QStringLiteral(": ") + m_file->errorString());
        return;
    }
    m_file->close();

    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus status) {
                const bool timedOut = !m_timeout->isActive();
                m_timeout->stop();
                const QString error = firstLine(m_process->readAllStandardError());
                QString why;
                if (status != QProcess::NormalExit)
                    why = timedOut ? QStringLiteral("Tallyforge did not end within %1 s")
                                         .arg(m_timeoutMs / 1000)
                                   : QStringLiteral("Tallyforge crashed");
                else if (exitCode != 0)
                    why = QStringLiteral("Tallyforge ended with status %1").arg(exitCode) +
                          (error.isEmpty() ? QString() : QStringLiteral(": ") + error);
                processEnded(true, status == QProcess::NormalExit ? exitCode : -1, why);
            });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_timeout->stop();
        processEnded(false, -1,
                     QStringLiteral("Tallyforge could not start: ") + m_process->errorString());
    });
    m_timeout->start(m_timeoutMs);
    m_process->start(m_program, arguments(m_current, m_file->fileName()));
}

void ReportRunner::processEnded(bool started, int exitCode, const QString& why)
{
    if (!m_running)
        return;
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    const ScheduledPeriod period = m_current;
    QString error = why;
    QByteArray pdf;
    if (started && exitCode == 0 && error.isEmpty()) {
        QFile file(m_file->fileName());
        if (!file.open(QIODevice::ReadOnly))
            error = QStringLiteral("the report's file could not be read");
        else if (file.size() > MaxPdfBytes)
            error = QStringLiteral("the report's file is larger than any report");
        else
            pdf = file.readAll();
        if (error.isEmpty() && !pdf.startsWith("%PDF"))
            error = QStringLiteral("Tallyforge wrote no PDF");
    }
    if (m_file) {
        m_file->remove();
        delete m_file;
        m_file = nullptr;
    }

    ReportRunRecord row;
    row.kind = ReportScheduleSettings::kindName(period.kind);
    row.first = period.first;
    row.last = period.last;
    row.dueMs = period.due.toMSecsSinceEpoch();
    row.madeMs = nowMs();
    row.late = period.late;
    row.attempts = period.attempts;

    if (error.isEmpty()) {
        const QString refusal = m_mail ? m_mail(period, pdf) : QStringLiteral("nothing mails");
        if (refusal.isEmpty()) {
            row.state = ReportRunRecord::stateMade();
            m_refusal.clear();
            if (m_audit)
                m_audit(QStringLiteral("report made"), auditObject(period),
                        (period.late ? QStringLiteral("late, ") : QString()) +
                            QStringLiteral("%1 bytes, queued for mail").arg(pdf.size()));
        } else if (isSizeRefusal(refusal)) {
            // Made, but never mailed: a retry would make the same file.
            row.state = ReportRunRecord::stateTooLarge();
            row.error = refusal;
            m_refusal = ReportScheduleSettings::kindTitle(period.kind) + QLatin1Char(' ') +
                        period.periodText() + QStringLiteral(" not mailed: ") + refusal;
            if (m_audit)
                m_audit(QStringLiteral("report not mailed"), auditObject(period), refusal);
        } else {
            error = refusal;
        }
    }
    if (!error.isEmpty()) {
        row.state = ReportRunRecord::stateFailed();
        row.attempts = period.attempts + 1;
        row.error = error.left(ReportRunRecord::MaxErrorLength);
        // The first failure is recorded; the retries are in the row.
        if (m_audit && period.attempts == 0)
            m_audit(QStringLiteral("report failed"), auditObject(period), error);
        ScheduledPeriod again = period;
        again.attempts = row.attempts;
        m_running = false;
        record(row);
        retryLater(again, error);
    } else {
        m_running = false;
        record(row);
    }
    updateNote();
    emit finished(row);
    QTimer::singleShot(0, this, &ReportRunner::startNext);
}

void ReportRunner::record(const ReportRunRecord& row)
{
    m_outcomes.insert(row.key(), row);
    if (m_submit)
        m_submit(WriteJob::reportRun(row));
}

void ReportRunner::recordDelivery(const ReportRunRecord& row)
{
    record(row);
    ReportScheduleSettings::Kind kind = ReportScheduleSettings::Daily;
    ReportScheduleSettings::kindFromName(row.kind, &kind);
    ScheduledPeriod period;
    period.kind = kind;
    period.first = row.first;
    period.last = row.last;
    if (m_audit)
        m_audit(QStringLiteral("report sent"), auditObject(period),
                row.late ? QStringLiteral("sent, late") : QStringLiteral("sent"));
}

void ReportRunner::retryLater(const ScheduledPeriod& period, const QString& error)
{
    qint64 delay = m_firstRetryMs;
    for (int i = 1; i < period.attempts && delay < m_longestRetryMs; ++i)
        delay *= 2;
    delay = std::min<qint64>(delay, m_longestRetryMs);
    m_waiting.append({period, m_monotonic.elapsed() + delay,
                      QDateTime::fromMSecsSinceEpoch(nowMs() + delay), error});
    retryTick();
}

void ReportRunner::retryTick()
{
    const qint64 now = m_monotonic.elapsed();
    qint64 next = -1;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->atMs <= now) {
            m_queue << it->period;
            it = m_waiting.erase(it);
            continue;
        }
        next = next < 0 ? it->atMs : std::min(next, it->atMs);
        ++it;
    }
    if (next >= 0)
        m_retry->start(int(std::min<qint64>(next - now, m_longestRetryMs)));
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &ReportRunner::startNext);
}

QString ReportRunner::note() const
{
    return m_note;
}

void ReportRunner::updateNote()
{
    QString note;
    if (!m_waiting.isEmpty()) {
        const Waiting& w = m_waiting.constFirst();
        // What failed and when it is tried again first: the error may be cut off at the edge.
        note = ReportScheduleSettings::kindTitle(w.period.kind) + QLatin1Char(' ') +
               w.period.periodText() + QStringLiteral(" failed, next try ") +
               w.shownAt.toString(QStringLiteral("hh:mm")) +
               (m_waiting.size() > 1 ? QStringLiteral(" (%1 reports waiting)").arg(m_waiting.size())
                                     : QString()) +
               QStringLiteral(": ") + w.error;
    } else if (!m_refusal.isEmpty()) {
        note = m_refusal;
    }
    if (note == m_note)
        return;
    m_note = note;
    emit noteChanged(m_note);
}
