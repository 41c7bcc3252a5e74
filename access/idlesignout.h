#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Signs the user out after a time without activity. The windows call signedIn() and
// activity(); the class answers with idle() once the time has passed. Recording and alarms are
// not its business: they go on. The clock is injectable; a timer polls it once a second, and
// tests call poll() themselves.
class IdleSignOut : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>; // ms, any origin that does not jump back
    static constexpr qint64 DefaultIdleMs = 15 * 60 * 1000;

    // No clock: a monotonic one.
    explicit IdleSignOut(Clock clock = Clock(), QObject* parent = nullptr);

    // At least a minute: anything shorter would sign a person out while reading.
    void setIdleMs(qint64 ms);
    qint64 idleMs() const { return limit; }

    bool isSignedIn() const { return signedInNow; }
    void signedIn();
    void activity();
    // An explicit sign-out: no idle() follows.
    void signedOut();

    // Emits idle() when the time has passed since the last activity; then counts as signed out.
    void poll();

signals:
    void idle();

private:
    Clock clock;
    QTimer timer;
    qint64 limit = DefaultIdleMs;
    qint64 lastActivity = 0;
    bool signedInNow = false;
};
