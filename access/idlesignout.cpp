#include "idlesignout.h"

#include <QElapsedTimer>

#include <memory>

IdleSignOut::IdleSignOut(Clock c, QObject* parent) : QObject(parent), clock(std::move(c))
{
    if (!clock) {
        auto monotonic = std::make_shared<QElapsedTimer>();
        monotonic->start();
        clock = [monotonic] { return monotonic->elapsed(); };
    }
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &IdleSignOut::poll);
}

void IdleSignOut::setIdleMs(qint64 ms)
{
    limit = qMax<qint64>(ms, 60 * 1000);
}

void IdleSignOut::signedIn()
{
    signedInNow = true;
    lastActivity = clock();
    timer.start();
}

void IdleSignOut::activity()
{
    if (signedInNow)
        lastActivity = clock();
}

void IdleSignOut::signedOut()
{
    signedInNow = false;
    timer.stop();
}

void IdleSignOut::poll()
{
    if (!signedInNow || clock() - lastActivity < limit)
        return;
    signedOut();
    emit idle();
}
