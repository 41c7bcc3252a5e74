#include "alarmtestrun.h"

#include "forwarder.h"
#include "notificationevent.h"
#include "notificationmessage.h"
#include "notificationservice.h"

#include <QDateTime>
#include <QTimer>

AlarmTestRun::AlarmTestRun(NotificationService* service, Forwarder* forwarder, QObject* parent)
    : QObject(parent), m_service(service), m_forwarder(forwarder), m_timer(new QTimer(this))
{
    qRegisterMetaType<QVector<AlarmTestRecord>>();
    m_timer->setSingleShot(true);
    m_timer->setInterval(DefaultTimeoutMs);
    connect(m_timer, &QTimer::timeout, this, &AlarmTestRun::timedOut);
    if (service)
        connect(service, &NotificationService::finished, this, &AlarmTestRun::notificationFinished);
    if (forwarder)
        connect(forwarder, &Forwarder::alarmTestAnswered, this, &AlarmTestRun::forwardAnswered);
}

void AlarmTestRun::setTimeoutMs(int ms)
{
    m_timer->setInterval(qMax(1, ms));
}

int AlarmTestRun::start(const Request& request,
                        const QVector<NotificationTarget>& notificationTargets)
{
    m_request = request;
    m_rows.clear();
    m_pending.clear();
    m_requests.clear();
    for (auto it = m_unavailable.cbegin(); it != m_unavailable.cend(); ++it)
        m_pending.append(it.key());

    NotificationEvent event;
    event.kind = NotificationKind::Start;
    event.test = true;
    event.eventId = request.testId;
    event.projectName = request.project;
    event.nodeName = request.nodesText;
    event.serial = request.serial;
    event.detail = request.user;
    event.start = QDateTime::fromSecsSinceEpoch(request.time);
    const NotificationMessage message(event);
    for (const NotificationTarget& target : notificationTargets) {
        m_pending.append(target.name);
        if (m_service)
            m_requests.insert(m_service->send(message, target), target.name);
    }
    if (m_forwarder) {
        for (const ForwarderTargetState& state : m_forwarder->states())
            m_pending.append(state.key);
        ForwardAlarmTest test;
        test.testId = request.testId;
        test.serial = request.serial;
        test.nodeName = request.nodesText;
        test.project = request.project;
        test.user = request.user;
        test.time = request.time;
        if (!m_forwarder->states().isEmpty())
            m_forwarder->sendAlarmTest(test);
    }
    const int count = m_pending.size();
    m_count = count;
    // Told after start() returned, so that whoever shows them is connected by then.
    const QHash<QString, QString> unavailable = m_unavailable;
    QTimer::singleShot(0, this, [this, unavailable] {
        for (auto it = unavailable.cbegin(); it != unavailable.cend(); ++it)
            answer(it.key(), AlarmTestRecord::noAnswer(),
                   QStringLiteral("not sent: ") + it.value());
    });
    if (count == 0)
        QTimer::singleShot(0, this, [this] { emit finished(m_rows); });
    else
        m_timer->start();
    return count;
}

void AlarmTestRun::notificationFinished(quint64 requestId, const NotificationOutcome& outcome)
{
    const auto it = m_requests.find(requestId);
    if (it == m_requests.end())
        return;
    const QString target = it.value();
    m_requests.erase(it);
    answer(target,
           outcome.accepted ? AlarmTestRecord::acceptedAnswer() : AlarmTestRecord::refusedAnswer(),
           outcome.answer.trimmed());
}

void AlarmTestRun::forwardAnswered(const QString& key, qint64 testId, bool accepted,
                                   const QString& text)
{
    if (testId != m_request.testId)
        return;
    answer(key, accepted ? AlarmTestRecord::acceptedAnswer() : AlarmTestRecord::refusedAnswer(),
           accepted ? QStringLiteral("taken by the server") : text);
}

void AlarmTestRun::answer(const QString& target, const QString& answer, const QString& text)
{
    if (!m_pending.contains(target))
        return; // answered before, or late after the time-out
    m_pending.removeOne(target);
    AlarmTestRecord row;
    row.testId = m_request.testId;
    row.time = m_request.time;
    row.user = m_request.user;
    row.nodes = m_request.serials.join(QStringLiteral(", ")).left(AlarmTestRecord::MaxNodes);
    row.target = target;
    row.answer = answer;
    row.text = text.left(AlarmTestRecord::MaxText);
    m_rows.append(row);
    emit answered(target, answer, row.text);
    if (m_pending.isEmpty()) {
        m_timer->stop();
        emit finished(m_rows);
    }
}

void AlarmTestRun::timedOut()
{
    const QString seconds = QString::number(m_timer->interval() / 1000.0);
    const QVector<QString> left = m_pending;
    for (const QString& target : left) {
        QString text = QStringLiteral("no answer in %1 s").arg(seconds);
        if (m_forwarder) {
            for (const ForwarderTargetState& state : m_forwarder->states()) {
                if (state.key == target && !state.status.lastError.isEmpty())
                    text += QStringLiteral(" (") + state.status.lastError + QLatin1Char(')');
            }
        }
        answer(target, AlarmTestRecord::noAnswer(), text);
    }
}
