#include "heartbeat.h"

#include "notificationmessage.h"
#include "notificationservice.h"
#include "notificationsettings.h"
#include "projectfile.h"

#include <QDebug>
#include <QUrl>

#include <algorithm>

namespace {

const QString UrlStandIn = QStringLiteral("<heartbeat URL>");

} // namespace

Heartbeat::Heartbeat(QObject* parent)
    : QObject(parent), m_service(new NotificationService(this)),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    connect(m_service, &NotificationService::finished, this, &Heartbeat::answered);
}

Heartbeat::~Heartbeat()
{
    m_service->stop();
}

void Heartbeat::setMinutes(int minutes)
{
    minutes = qBound(0, minutes, ProjectFile::MaxHeartbeatMinutes);
    if (minutes == m_minutes)
        return;
    m_minutes = minutes;
    restart();
}

void Heartbeat::setUrl(const QString& url)
{
    if (url == m_url)
        return;
    m_url = url;
    restart();
}

void Heartbeat::setRecording(bool recording)
{
    if (recording == m_recording)
        return;
    m_recording = recording;
    restart();
}

bool Heartbeat::isActive() const
{
    return m_recording && m_minutes > 0 && !m_url.isEmpty();
}

// The first beat goes out at the next tick: the service learns at once that the recorder runs.
void Heartbeat::restart()
{
    m_next = QDateTime();
    if (!isActive()) {
        m_failing = false;
        setProblem(QString());
    }
}

void Heartbeat::tick()
{
    if (!isActive())
        return;
    const QDateTime now = m_clock();
    const qint64 period = qint64(m_minutes) * 60;
    // A clock set back by more than a beat would otherwise hold the calls until it caught up.
    if (m_next.isValid() && now < m_next && now.secsTo(m_next) <= period)
        return;
    m_next = now.addSecs(period);
    // One call at a time: the one still under way stands for this beat.
    if (m_calling == 0)
        call();
}

void Heartbeat::call()
{
    m_calling =
        m_service->send(NotificationMessage(), NotificationSettings::heartbeatTarget(m_url));
}

void Heartbeat::answered(quint64 requestId, const NotificationOutcome& outcome)
{
    if (requestId != m_calling)
        return;
    m_calling = 0;
    emit called(outcome.accepted);
    // Stopped meanwhile: nothing to show.
    if (!isActive())
        return;
    if (outcome.accepted) {
        if (m_failing)
            qInfo("Heartbeat::answered : the calls go through again");
        m_failing = false;
        setProblem(QString());
        return;
    }
    const QString answer = withoutUrl(outcome.answer, m_url).simplified();
    // Traced when the calls start failing and when they go through again, not at every beat of
    // an outage; the status bar shows the last failure.
    if (!m_failing)
        qWarning().noquote() << QStringLiteral("Heartbeat::answered : call failed : ") + answer;
    m_failing = true;
    setProblem(QStringLiteral("Heartbeat failed at ") +
               m_clock().toLocalTime().toString(QStringLiteral("HH:mm:ss")) +
               (answer.isEmpty() ? QString() : QStringLiteral(": ") + answer));
}

void Heartbeat::setProblem(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit problemChanged(problem);
}

QString Heartbeat::withoutUrl(const QString& text, const QString& url)
{
    if (url.isEmpty())
        return text;
    const QUrl parsed(url);
    // The longest first, so that the whole URL goes as one; parts too short to hold a token
    // ("/", "a") are left, or every slash of the text would go.
    QStringList parts{url,
                      QUrl::fromPercentEncoding(url.toUtf8()),
                      parsed.path(QUrl::FullyEncoded),
                      parsed.path(QUrl::FullyDecoded),
                      parsed.query(QUrl::FullyEncoded),
                      parsed.query(QUrl::FullyDecoded),
                      parsed.password(QUrl::FullyEncoded),
                      parsed.password(QUrl::FullyDecoded)};
    std::sort(parts.begin(), parts.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QString result = text;
    for (const QString& part : qAsConst(parts)) {
        if (part.size() >= 4)
            result.replace(part, UrlStandIn);
    }
    return result;
}
