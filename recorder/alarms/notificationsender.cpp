#include "notificationsender.h"

#include "notificationsettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QUrl>

#include <curl/curl.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Server replies shorter than this are shown whole; a webhook's body is cut here.
constexpr int AnswerBodyLimit = 200;
// What is kept of one SMTP reply, however many lines a server sends; of any one line; of an HTTP
// status line. A server that talks without end must not grow the recorder.
constexpr int ReplyLimit = 4096;
constexpr int ReplyLineLimit = 512;
// How often an idle transfer looks at the interrupt flag when no wake-up comes.
constexpr int PollStepMs = 200;

struct EasyDeleter
{
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MimeDeleter
{
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using MimeHandle = std::unique_ptr<curl_mime, MimeDeleter>;

// What the server said during one transfer.
struct Exchange
{
    QByteArray upload;
    qsizetype uploaded = 0;
    // SMTP: the last complete reply; HTTP: the last status line.
    QByteArray reply;
    QByteArray pending;
    bool pendingCut = false;
    QByteArray body;
    bool bodyCut = false;
    // SMTP: the complete reply before the last one; the last may be the answer to QUIT, which
    // says nothing about the message.
    QByteArray previousReply;
    char error[CURL_ERROR_SIZE] = {};
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const qsizetype left = exchange->upload.size() - exchange->uploaded;
    const qsizetype n = qMin(left, qsizetype(size * count));
    std::memcpy(buffer, exchange->upload.constData() + exchange->uploaded, size_t(n));
    exchange->uploaded += n;
    return size_t(n);
}

// A MIME upload has no read callback of ours: its progress tells that the message began.
int noteUpload(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    auto* exchange = static_cast<Exchange*>(user);
    exchange->uploaded = std::max<qsizetype>(exchange->uploaded, qsizetype(uploaded));
    return 0;
}

// Keeps the start of the body; once that is there the transfer ends (the status decides), so a
// body without end neither grows the recorder nor holds the sender until the time-out.
size_t keepBody(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const int room = AnswerBodyLimit - int(exchange->body.size());
    exchange->body.append(data, int(qMin(size * count, size_t(qMax(room, 0)))));
    if (exchange->body.size() >= AnswerBodyLimit) {
        exchange->bodyCut = true;
        return 0;
    }
    return size * count;
}

// HTTP: keeps the status line of the last response.
size_t keepStatusLine(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const QByteArray line = QByteArray(data, int(qMin(size * count, size_t(ReplyLineLimit))));
    if (line.startsWith("HTTP/"))
        exchange->reply = line.trimmed();
    return size * count;
}

// SMTP: libcurl hands each line the server answers to the header callback. A reply may span
// lines ("250-...", then "250 ..."); the last two complete ones are kept for the texts shown.
size_t keepSmtpReply(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const QList<QByteArray> lines =
        QByteArray(data, int(qMin(size * count, size_t(ReplyLimit)))).split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.left(ReplyLineLimit).trimmed();
        if (line.isEmpty())
            continue;
        const bool last = line.size() < 4 || line.at(3) != '-';
        // The start of a long reply and its last line are kept; what lies between is left out.
        if (exchange->pending.size() + line.size() < ReplyLimit || last) {
            if (!exchange->pending.isEmpty())
                exchange->pending += exchange->pendingCut ? "\n...\n" : "\n";
            exchange->pending += line;
            exchange->pendingCut = false;
        } else {
            exchange->pendingCut = true;
        }
        if (last) {
            exchange->previousReply = exchange->reply;
            exchange->reply = exchange->pending;
            exchange->pending.clear();
            exchange->pendingCut = false;
        }
    }
    return size * count;
}

// Failures of the way to the server pass by themselves; the others need a change of settings.
bool networkFailure(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_ABORTED_BY_CALLBACK:
        return true;
    default:
        return false;
    }
}

QString failureText(CURLcode code, const Exchange& exchange)
{
    const QString detail = QString::fromUtf8(exchange.error).trimmed();
    return detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail;
}

// The sockets of the transfer in progress are opened here, so that interrupt() can shut them:
// curl says goodbye to an SMTP server (QUIT) when a transfer ends, and waits for the answer even
// after an abort.
curl_socket_t openSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    const curl_socket_t socket = ::socket(address->family, address->socktype, address->protocol);
    if (socket != CURL_SOCKET_BAD)
        static_cast<NotificationSender*>(user)->socketOpened(socket);
    return socket;
}

int closeSocket(void* user, curl_socket_t socket)
{
    static_cast<NotificationSender*>(user)->socketClosed(socket);
    return ::close(socket);
}

void setCommonOptions(CURL* easy, const NotificationTarget& target, Exchange* exchange,
                      NotificationSender* sender)
{
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, sender);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, sender);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, exchange->error);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(target.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(target.totalTimeoutMs));
    // Without these libcurl waits 120 s for the reply to QUIT (the total time-out does not
    // cover the goodbye) and for ever for a body that trickles.
    const long responseSeconds =
        std::max(1L, long(std::min(target.responseTimeoutMs, target.totalTimeoutMs) + 999) / 1000);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, responseSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, responseSeconds);
    // Messages are rare: a connection is closed after its message rather than kept idle until
    // the server drops it.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    // Verification is libcurl's default; stated so that no later edit loses it unseen.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!target.caFile.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, target.caFile.toLocal8Bit().constData());
}

QString hostForUrl(const QString& host)
{
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

NotificationOutcome stopped()
{
    return {false, true, QStringLiteral("Sending was interrupted: the recorder is stopping.")};
}

} // namespace

// SMTP: what goes out. A message with an attachment is built by libcurl as multipart/mixed
// (its boundary, the base64 of the attachment, quoted-printable text where needed) under the
// message's own header lines; any other is the text email() made.
struct NotificationSender::Mail
{
    QByteArray text;
    bool multipart = false;
    QList<QByteArray> headers;
    QByteArray body;
    bool quotedPrintable = false;
    QByteArray attachmentName;
    QByteArray attachment;
};

// SMTP: how one recipient's transfer ended.
struct NotificationSender::Delivery
{
    CURLcode code = CURLE_OK;
    // The server's last reply code to this transfer (libcurl leaves out the one to QUIT).
    long smtpCode = 0;
    // Some of the message went out: the envelope was taken.
    bool messageStarted = false;
    QString reply;
    QString failure;
};

NotificationSender::NotificationSender() : m_multi(curl_multi_init()) {}

NotificationSender::~NotificationSender()
{
    curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

void NotificationSender::interrupt()
{
    m_interrupted = true;
    {
        const std::lock_guard<std::mutex> lock(m_socketsMutex);
        for (const int socket : m_sockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

void NotificationSender::socketOpened(int socket)
{
    const std::lock_guard<std::mutex> lock(m_socketsMutex);
    m_sockets.push_back(socket);
    // Opened after an interrupt: shut at once.
    if (m_interrupted)
        ::shutdown(socket, SHUT_RDWR);
}

void NotificationSender::socketClosed(int socket)
{
    const std::lock_guard<std::mutex> lock(m_socketsMutex);
    m_sockets.erase(std::remove(m_sockets.begin(), m_sockets.end(), socket), m_sockets.end());
}

void NotificationSender::send(quint64 requestId, const NotificationMessage& message,
                              const NotificationTarget& target)
{
    NotificationOutcome outcome;
    if (m_interrupted)
        outcome = stopped();
    else if (target.kind == NotificationTarget::Kind::Email)
        outcome = sendEmail(message, target);
    else
        outcome = sendWebhook(message, target);
    emit sent(requestId, outcome);
}

bool NotificationSender::perform(void* handle, int* result)
{
    auto* multi = static_cast<CURLM*>(m_multi);
    auto* easy = static_cast<CURL*>(handle);
    curl_multi_add_handle(multi, easy);
    bool interrupted = false;
    int running = 1;
    *result = CURLE_OK;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            *result = CURLE_SEND_ERROR;
            break;
        }
        if (!running)
            break;
        if (m_interrupted) {
            interrupted = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, PollStepMs, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy)
            *result = msg->data.result;
    }
    curl_multi_remove_handle(multi, easy);
    if (interrupted)
        *result = CURLE_ABORTED_BY_CALLBACK;
    return !interrupted;
}

NotificationOutcome NotificationSender::sendEmail(const NotificationMessage& message,
                                                  const NotificationTarget& target)
{
    if (target.recipients.isEmpty())
        return {false, false, QStringLiteral("No recipient is set.")};
    // A line break in an address would let the text after it pass as SMTP commands of its own.
    const QString problem = NotificationSettings::addressProblem(target.sender, target.recipients);
    if (!problem.isEmpty())
        return {false, false, problem};
    if (!target.user.isEmpty()) {
        // Never a login with an empty password for want of the stored one; the message waits.
        if (!target.passwordProblem.isEmpty())
            return {false, true, target.passwordProblem};
        // AUTH without TLS shows the password to everyone on the way; only the user's choice
        // in the settings mends that.
        if (target.security == SmtpSecurity::None && target.cleartext == CleartextPassword::Refused)
            return {false, false,
                    QStringLiteral("The password is not sent unencrypted: choose STARTTLS or "
                                   "SMTPS, or tick \"send the password unencrypted\".")};
    }
    // A message sent again after an outage keeps the date it was made. Every recipient gets the
    // same text, To: line and all.
    const QDateTime date =
        message.created().isValid() ? message.created() : QDateTime::currentDateTime();
    Mail mail;
    if (message.hasAttachment()) {
        mail.multipart = true;
        mail.headers = message.emailHeaders(target.sender, target.recipients, date);
        mail.body = message.bodyPart(&mail.quotedPrintable);
        mail.attachmentName = message.attachmentName().toUtf8();
        mail.attachment = message.attachment();
    } else {
        mail.text = message.email(target.sender, target.recipients, date);
    }
    QElapsedTimer clock;
    clock.start();
    QStringList refused;
    QStringList deferred;
    QStringList refusals;
    QString reply;
    bool accepted = false;
    // One transfer per recipient: each refusal is the verdict on its own transfer, and one
    // refused recipient does not keep the message from the others.
    for (const QString& recipient : target.recipients) {
        const QString address = recipient.trimmed();
        Delivery delivery;
        // The total time-out bounds the whole send, however many recipients it has (0: none).
        const qint64 leftMs = target.totalTimeoutMs <= 0
                                  ? 0
                                  : std::max<qint64>(1, target.totalTimeoutMs - clock.elapsed());
        if (!deliver(mail, address, target, leftMs, &delivery))
            return stopped();
        const bool envelopeRefused = delivery.code == CURLE_SEND_ERROR &&
                                     delivery.smtpCode >= 400 && !delivery.messageStarted;
        if (delivery.code == CURLE_OK) {
            accepted = true;
            reply = delivery.reply;
            continue;
        }
        if (!envelopeRefused && !accepted) {
            // Refused as a message, or the way to the server failed: the same for every
            // recipient. The server's verdict decides: 4xx is temporary, 5xx is final.
            if (delivery.smtpCode >= 400)
                return {false, delivery.smtpCode < 500, delivery.reply};
            return {false, networkFailure(delivery.code), delivery.failure};
        }
        // Refused for this recipient alone (or failed once others had the message).
        const bool forNow = delivery.smtpCode >= 400 ? delivery.smtpCode < 500
                                                     : networkFailure(delivery.code);
        (forNow ? deferred : refused) << address;
        const QString why = delivery.reply.isEmpty() ? delivery.failure : delivery.reply;
        refusals << address + QStringLiteral(" (") + why + QLatin1Char(')');
        if (!accepted)
            reply = delivery.reply;
    }
    const int count = refusals.size();
    const QString refusalText = QString::number(count) +
                                (count == 1 ? QStringLiteral(" recipient refused: ")
                                            : QStringLiteral(" recipients refused: ")) +
                                refusals.join(QStringLiteral(", "));
    if (accepted && count == 0)
        return {true, false, reply};
    // Taken for the others; a recipient refused for now makes it worth another try for them.
    if (accepted)
        return {true, !deferred.isEmpty(), refusalText + QLatin1Char('\n') + reply, refused,
                deferred};
    // Every recipient refused: worth another try while any refusal was only for now.
    return {false, !deferred.isEmpty(), reply + QLatin1Char('\n') + refusalText, refused,
            deferred};
}

bool NotificationSender::deliver(const Mail& mail, const QString& recipient,
                                 const NotificationTarget& target, qint64 timeoutMs,
                                 Delivery* delivery)
{
    const EasyHandle easy(curl_easy_init());
    Exchange exchange;
    exchange.upload = mail.text;

    const bool smtps = target.security == SmtpSecurity::Smtps;
    const quint16 port = target.port ? target.port : quint16(smtps ? 465 : 587);
    // The path names this host in EHLO.
    const QString url = (smtps ? QStringLiteral("smtps://") : QStringLiteral("smtp://")) +
                        hostForUrl(target.host) + QLatin1Char(':') + QString::number(port) +
                        QLatin1Char('/') + QSysInfo::machineHostName();
    CURL* e = easy.get();
    setCommonOptions(e, target, &exchange, this);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(e, CURLOPT_URL, url.toUtf8().constData());
    curl_easy_setopt(e, CURLOPT_USE_SSL,
                     target.security == SmtpSecurity::None ? long(CURLUSESSL_NONE)
                                                           : long(CURLUSESSL_ALL));
    if (!target.user.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, target.user.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, target.password.toUtf8().constData());
    }
    const QByteArray from = QByteArray(1, '<') + target.sender.toUtf8() + '>';
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, from.constData());
    const QByteArray to = QByteArray(1, '<') + recipient.toUtf8() + '>';
    const HeaderList recipients(curl_slist_append(nullptr, to.constData()));
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, recipients.get());
    MimeHandle mime;
    HeaderList headers;
    if (mail.multipart) {
        // libcurl copies the parts' data; the handles live until the transfer ends.
        mime.reset(curl_mime_init(e));
        curl_mimepart* text = curl_mime_addpart(mime.get());
        curl_mime_data(text, mail.body.constData(), size_t(mail.body.size()));
        curl_mime_type(text, "text/plain; charset=UTF-8");
        curl_mime_encoder(text, mail.quotedPrintable ? "quoted-printable" : "7bit");
        curl_mimepart* file = curl_mime_addpart(mime.get());
        curl_mime_data(file, mail.attachment.constData(), size_t(mail.attachment.size()));
        curl_mime_type(file, "application/pdf");
        curl_mime_filename(file, mail.attachmentName.constData());
        curl_mime_encoder(file, "base64");
        curl_slist* list = nullptr;
        for (const QByteArray& line : mail.headers)
            list = curl_slist_append(list, line.constData());
        headers.reset(list);
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(e, CURLOPT_MIMEPOST, mime.get());
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, noteUpload);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, &exchange);
    } else {
        curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(exchange.upload.size()));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, readUpload);
        curl_easy_setopt(e, CURLOPT_READDATA, &exchange);
    }
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, keepSmtpReply);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &exchange);

    int code = CURLE_OK;
    if (!perform(e, &code))
        return false;
    delivery->code = CURLcode(code);
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &delivery->smtpCode);
    delivery->messageStarted = exchange.uploaded > 0;
    // The reply that gave the transfer its code: libcurl's code leaves out the answer to QUIT.
    const QByteArray verdict = QByteArray::number(qint64(delivery->smtpCode));
    delivery->reply = QString::fromUtf8(
        !exchange.reply.startsWith(verdict) && exchange.previousReply.startsWith(verdict)
            ? exchange.previousReply
            : exchange.reply);
    delivery->failure = failureText(delivery->code, exchange);
    return true;
}

NotificationOutcome NotificationSender::sendWebhook(const NotificationMessage& message,
                                                    const NotificationTarget& target)
{
    const QUrl url(target.url);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return {false, false, QStringLiteral("The webhook URL is not an http or https URL.")};
    const EasyHandle easy(curl_easy_init());
    Exchange exchange;
    exchange.upload = message.json();
    CURL* e = easy.get();
    setCommonOptions(e, target, &exchange, this);
    curl_easy_setopt(e, CURLOPT_URL, target.url.toUtf8().constData());
    // A POST is never repeated elsewhere on a redirect.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, exchange.upload.constData());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(exchange.upload.size()));
    curl_slist* list = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    const QByteArray key = "Idempotency-Key: " + message.key().toUtf8();
    list = curl_slist_append(list, key.constData());
    // The body is small; waiting for "100 Continue" would only add a round trip.
    list = curl_slist_append(list, "Expect:");
    const HeaderList headers(list);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, keepStatusLine);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &exchange);

    int result = CURLE_OK;
    if (!perform(e, &result))
        return stopped();
    auto code = CURLcode(result);
    // Ended by keepBody once the start of the body was there.
    if (code == CURLE_WRITE_ERROR && exchange.bodyCut)
        code = CURLE_OK;
    if (code != CURLE_OK)
        return {false, networkFailure(code), failureText(code, exchange)};
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    QString answer = QString::fromUtf8(exchange.reply);
    const QString body = QString::fromUtf8(exchange.body.left(AnswerBodyLimit)).trimmed();
    if (!body.isEmpty())
        answer += QLatin1Char('\n') + body;
    const bool accepted = status >= 200 && status < 300;
    const bool retryable = status == 408 || status == 425 || status == 429 || status >= 500;
    return {accepted, !accepted && retryable, answer};
}
