#include "influxworker.h"

#include "lineprotocol.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QUrlQuery>

#include <curl/curl.h>

#include <algorithm>

namespace {

// A reply is kept up to this size: InfluxDB's own answers are short (204 without a body, an
// error in a line of JSON), and a server, or a man in the middle on plain http, that streams
// without end must not grow the recorder.
constexpr int MaxReplyBytes = 4096;

struct ReplyBuffer
{
    QByteArray body;
    bool cut = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* target)
{
    auto* reply = static_cast<ReplyBuffer*>(target);
    const size_t bytes = size * count;
    if (reply->body.size() + qint64(bytes) > MaxReplyBytes) {
        // Returning less than was given ends the transfer (CURLE_WRITE_ERROR).
        reply->body.append(data, MaxReplyBytes - reply->body.size());
        reply->cut = true;
        return 0;
    }
    reply->body.append(data, int(bytes));
    return bytes;
}

// Per line, not per write: what InfluxDB answers about lines it will never store (unreadable,
// a field of another type, outside the retention policy). Any other 400 is about the write.
bool isLineRefusal(const QString& error)
{
    return error.contains(QLatin1String("partial write")) ||
           error.contains(QLatin1String("unable to parse")) ||
           error.contains(QLatin1String("field type conflict")) ||
           error.contains(QLatin1String("beyond retention policy"));
}

// The server's own words: InfluxDB answers errors as {"error": "..."}.
QString serverError(const QByteArray& body)
{
    const QString error =
        QJsonDocument::fromJson(body).object().value(QStringLiteral("error")).toString();
    return error.isEmpty() ? QString::fromUtf8(body.left(300)).trimmed() : error;
}

} // namespace

InfluxInterrupt::InfluxInterrupt() : multi(curl_multi_init()) {}

InfluxInterrupt::~InfluxInterrupt()
{
    curl_multi_cleanup(multi);
}

void InfluxInterrupt::interrupt()
{
    interrupted = true;
    curl_multi_wakeup(multi);
}

InfluxWorker::InfluxWorker(const InfluxForwarding& settings, const QString& password,
                           const ForwardTiming& timing, std::shared_ptr<InfluxInterrupt> interrupt)
    : ForwardWorker(QStringLiteral("InfluxTarget"), timing), m_settings(settings),
      m_password(password), m_interrupt(std::move(interrupt)), m_attemptTimer(new QTimer(this)),
      m_batchLines(std::max(1, timing.batchLines))
{
    QUrl base(settings.url.trimmed());
    if (!base.isValid() ||
        (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")) ||
        base.host().isEmpty()) {
        setProblem(QStringLiteral("\"%1\" is not an http or https address.").arg(settings.url));
    } else if (!base.userInfo().isEmpty()) {
        // A login written into the shared project file; it would go out as it stands.
        setProblem(QStringLiteral("The InfluxDB URL must not hold a user or password."));
    } else if (settings.database.isEmpty()) {
        setProblem(QStringLiteral("No InfluxDB database is set."));
    } else if (!settings.user.isEmpty() && !settings.passwordProblem.isEmpty()) {
        // Never a login with an empty password for want of the stored one.
        setProblem(settings.passwordProblem);
    } else if (!settings.user.isEmpty() && base.scheme() == QLatin1String("http") &&
               settings.cleartext == CleartextPassword::Refused) {
        // Basic authentication over http is the password in base64.
        setProblem(QStringLiteral("The password is not sent unencrypted: use https, or tick "
                                  "\"send the password unencrypted\"."));
    }
    QString path = base.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    m_writeUrl = base;
    m_writeUrl.setPath(path + QStringLiteral("/write"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("db"), settings.database);
    query.addQueryItem(QStringLiteral("precision"), QStringLiteral("s"));
    m_writeUrl.setQuery(query);
    m_pingUrl = base;
    m_pingUrl.setPath(path + QStringLiteral("/ping"));
    m_pingUrl.setQuery(QString());

    m_attemptTimer->setSingleShot(true);
    connect(m_attemptTimer, &QTimer::timeout, this, &InfluxWorker::attempt);
}

InfluxWorker::~InfluxWorker()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

void InfluxWorker::connectTarget()
{
    m_curl = curl_easy_init();
    status().state = ForwardStatus::State::Connecting;
    reportNow();
    scheduleAttempt();
}

void InfluxWorker::retry()
{
    attempt();
}

void InfluxWorker::closeTarget()
{
    m_attemptTimer->stop();
    status().inFlight = 0;
}

void InfluxWorker::countQueue(ForwardStatus& status) const
{
    status.waiting = int(m_waiting.size()) - status.inFlight;
}

void InfluxWorker::send(const ForwardBatch& batch)
{
    for (const ForwardSample& sample : batch.samples)
        m_waiting.push_back({LineProtocol::sampleLine(sample), ForwardRecordKind::Sample,
                             sample.rowId, sample.channel});
    for (const ForwardAlarmChange& change : batch.alarmChanges)
        m_waiting.push_back({LineProtocol::alarmLine(change), ForwardRecordKind::AlarmChange,
                             change.changeMark, 0});
    if (batch.auditHead)
        m_waiting.push_back({LineProtocol::auditHeadLine(*batch.auditHead),
                             ForwardRecordKind::AuditHead, batch.auditHead->sequence, 0});
    if (batch.alarmTest)
        m_waiting.push_back({LineProtocol::alarmTestLine(*batch.alarmTest),
                             ForwardRecordKind::AlarmTest, batch.alarmTest->testId, 0});
    if (problem().isEmpty())
        scheduleAttempt();
    report(false);
}

void InfluxWorker::scheduleAttempt()
{
    // One write per turn of the event loop, so that batches handed over meanwhile join the
    // queue; during a back-off the retry timer decides.
    if (!retryPending() && !m_attemptTimer->isActive())
        m_attemptTimer->start(0);
}

void InfluxWorker::attempt()
{
    if (m_interrupt->interrupted || !m_curl)
        return;
    ++status().attempts;

    if (m_waiting.empty()) {
        // Nothing to write: only whether the server answers.
        const Answer answer = request(m_pingUrl, nullptr);
        if (!answer.done)
            return;
        if (answer.curlCode != CURLE_OK || answer.cut)
            fail(answer.error);
        else if (answer.httpCode / 100 != 2)
            fail(QStringLiteral("InfluxDB answered the ping with HTTP %1: %2")
                     .arg(answer.httpCode)
                     .arg(serverError(answer.body)));
        else {
            succeeded();
            report(true);
        }
        return;
    }

    int count = std::min<int>(m_batchLines, int(m_waiting.size()));
    // A write was refused for a line in it: halves of it go out until that line stands alone.
    if (m_suspectLines > 0)
        count = std::min(count, m_suspectLines == 1 ? 1 : (m_suspectLines + 1) / 2);
    QByteArray body;
    for (int i = 0; i < count; ++i) {
        body += m_waiting[size_t(i)].text;
        body += '\n';
    }
    // Said before the write, which may take up to the request timeout.
    status().inFlight = count;
    report(true);
    const Answer answer = request(m_writeUrl, &body);
    status().inFlight = 0;
    if (!answer.done)
        return;
    if (answer.curlCode != CURLE_OK) {
        fail(answer.error);
        return;
    }

    const long code = answer.httpCode;
    const QString error = serverError(answer.body);
    if (answer.cut && code != 400) {
        // Whatever the status said, a reply without end is no answer to trust: written again.
        fail(answer.error);
        return;
    } else if (code / 100 == 2) {
        acknowledgeFront(count);
        m_suspectLines = std::max(0, m_suspectLines - count);
    } else if (code == 400 && isLineRefusal(error)) {
        // Lines the server will never take: sending them again would stall every record behind
        // them. The server stored the others of a partial write, and takes them again as the
        // same points, so the refused ones are found by writing halves until each stands alone;
        // those are skipped, counted and named.
        static const QRegularExpression droppedCount(QStringLiteral("dropped=(\\d+)"));
        const bool allDropped =
            !answer.cut && (droppedCount.match(error).captured(1).toInt() == count ||
                            (!error.contains(QLatin1String("partial write")) &&
                             error.count(QLatin1String("unable to parse")) == count));
        if (count == 1 || allDropped) {
            refuseFront(count, error);
            m_suspectLines = std::max(0, m_suspectLines - count);
        } else {
            m_suspectLines = count;
            scheduleAttempt();
            report(false);
            return;
        }
    } else if (code == 401 || code == 403) {
        fail(QStringLiteral("InfluxDB refused the login: not authorised (HTTP %1: %2)")
                 .arg(code)
                 .arg(error));
        return;
    } else if (code == 404) {
        fail(QStringLiteral("InfluxDB has no database \"%1\" (HTTP 404: %2)")
                 .arg(m_settings.database, error));
        return;
    } else if (code == 413 && count > 1) {
        // The server takes smaller writes only: halve them, and try again at once.
        m_batchLines = std::max(1, count / 2);
        scheduleAttempt();
        return;
    } else {
        fail(QStringLiteral("InfluxDB answered HTTP %1: %2")
                 .arg(code)
                 .arg(answer.cut ? answer.error : error));
        return;
    }

    succeeded();
    if (!m_waiting.empty())
        scheduleAttempt();
    report(reported().state != ForwardStatus::State::Connected);
}

InfluxWorker::Answer InfluxWorker::request(const QUrl& url, const QByteArray* body)
{
    Answer answer;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const QByteArray address = url.toEncoded();
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray password = m_password.toUtf8();
    const QByteArray caFile = QFile::encodeName(m_settings.caFile);

    curl_easy_reset(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, long(timing().connectTimeoutMs));
    // A ping is answered at once by any InfluxDB: a server silent for the connect timeout is
    // not going to answer it.
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS,
                     long(body ? timing().requestTimeoutMs : timing().connectTimeoutMs));
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &collectBody);
    ReplyBuffer reply;
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &reply);
    if (!caFile.isEmpty())
        curl_easy_setopt(m_curl, CURLOPT_CAINFO, caFile.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(m_curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(m_curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(m_curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_slist* headers = nullptr;
    if (body) {
        // No "Expect: 100-continue" round trip before large bodies.
        headers = curl_slist_append(headers, "Content-Type: text/plain; charset=utf-8");
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(m_curl, CURLOPT_POST, 1L);
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body->constData());
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
    }

    // Through the interrupt's multi handle, whose wait the owner can end at once.
    CURLM* multi = m_interrupt->multi;
    curl_multi_add_handle(multi, m_curl);
    int running = 1;
    while (!m_interrupt->interrupted) {
        curl_multi_perform(multi, &running);
        if (running == 0)
            break;
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_curl) {
            answer.done = true;
            answer.curlCode = message->data.result;
        }
    }
    curl_multi_remove_handle(multi, m_curl);
    curl_slist_free_all(headers);

    answer.body = reply.body;
    answer.cut = reply.cut;
    if (answer.done && (answer.curlCode == CURLE_OK || reply.cut)) {
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &answer.httpCode);
        if (reply.cut) {
            answer.curlCode = CURLE_OK;
            answer.error = QStringLiteral("InfluxDB's reply (HTTP %1) was longer than %2 bytes "
                                          "and was cut off")
                               .arg(answer.httpCode)
                               .arg(MaxReplyBytes);
        }
    } else if (answer.done) {
        const CURLcode code = CURLcode(answer.curlCode);
        const QString detail = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(code));
        if (code == CURLE_OPERATION_TIMEDOUT)
            answer.error = QStringLiteral("InfluxDB did not answer in time (%1)").arg(detail);
        else
            answer.error =
                QStringLiteral("InfluxDB at %1: %2")
                    .arg(url.toDisplayString(QUrl::RemoveQuery | QUrl::RemoveUserInfo), detail);
    }
    return answer;
}

void InfluxWorker::acknowledgeFront(int count, bool refused)
{
    for (int i = 0; i < count; ++i) {
        const Line& line = m_waiting.front();
        acknowledge(line.kind, line.id, line.part, refused);
        m_waiting.pop_front();
    }
}

void InfluxWorker::refuseFront(int count, const QString& error)
{
    QStringList records;
    for (int i = 0; i < count; ++i) {
        const Line& line = m_waiting[size_t(i)];
        if (i < 20)
            records << (line.kind == ForwardRecordKind::Sample
                            ? QStringLiteral("row %1 channel %2").arg(line.id).arg(line.part)
                            : forwardRecordKindText(line.kind) + QLatin1Char(' ') +
                                  QString::number(line.id));
    }
    if (count > records.size())
        records << QStringLiteral("%1 more").arg(count - records.size());
    status().refused += count;
    status().lastError =
        QStringLiteral("InfluxDB refused %1 for good (%2): %3")
            .arg(count == 1 ? QStringLiteral("a record") : QStringLiteral("%1 records").arg(count),
                 records.join(QStringLiteral(", ")), error.left(300));
    qWarning().noquote() << trace("write") + status().lastError;
    acknowledgeFront(count, true);
}
