#pragma once

#include "forwardrecords.h"
#include "forwardstatus.h"

#include <QObject>

// The part of a target that lives on the target's thread; only queued calls reach it.
class ForwardWorker : public QObject
{
    Q_OBJECT

public slots:
    // First thing on the thread.
    virtual void start() = 0;
    virtual void send(const ForwardBatch& batch) = 0;
    // Leaves the server as it should be left, without waiting for it, and ends the thread.
    virtual void shutdown() = 0;

signals:
    void acknowledged(const ForwardAck& ack);
    void statusChanged(const ForwardStatus& status);
};
