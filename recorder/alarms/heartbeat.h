#pragma once

#include "notificationoutcome.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class NotificationService;

// Calls the project's heartbeat URL (a dead-man's switch such as a self-hosted healthchecks
// instance) every few minutes while the project records, so that a recorder PC that dies, hangs
// or loses its network is noticed by a service that alerts when the calls stop. Nothing is sent
// on stopping: the silence is the message. One call at a time, on a sender thread of its own so
// that neither the window nor a slow mail server holds a beat up; a failed call is told through
// problem() and the next beat calls again. The URL holds the service's token: no text this class
// shows or traces contains it.
class Heartbeat : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit Heartbeat(QObject* parent = nullptr);
    // Interrupts a call in progress: closing never waits on the service.
    ~Heartbeat() override;

    void setClock(const Clock& clock) { m_clock = clock; }
    // 0: off. Bounded to ProjectFile::MaxHeartbeatMinutes.
    void setMinutes(int minutes);
    // Empty: none stored (nothing is called; the owner says why).
    void setUrl(const QString& url);
    void setRecording(bool recording);
    // Once a second: calls when a beat is due.
    void tick();

    bool isActive() const;
    bool isCalling() const { return m_calling != 0; }
    // Why the last call failed, with its local time; empty after a call that went through and
    // while the heartbeat is not active.
    const QString& problem() const { return m_problem; }
    // `text` with the URL, and its path and query, replaced by "<heartbeat URL>".
    static QString withoutUrl(const QString& text, const QString& url);

signals:
    void problemChanged(const QString& problem);
    // Each answered call (also one answered after the heartbeat stopped: it is not shown).
    void called(bool accepted);

private:
    void restart();
    void call();
    void answered(quint64 requestId, const NotificationOutcome& outcome);
    void setProblem(const QString& problem);

    NotificationService* m_service = nullptr;
    Clock m_clock;
    int m_minutes = 0;
    QString m_url;
    bool m_recording = false;
    QDateTime m_next;
    // The request in progress; 0: none.
    quint64 m_calling = 0;
    QString m_problem;
    // The last call failed.
    bool m_failing = false;
};
