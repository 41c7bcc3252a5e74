#pragma once

#include "forwardingsettings.h"
#include "forwardtarget.h"
#include "forwardtiming.h"

#include <memory>

struct InfluxInterrupt;

// Forwarding to InfluxDB 1.x over HTTP (libcurl): POST /write?db=...&precision=s with the
// line protocol of LineProtocol, in writes of up to ForwardTiming::batchLines lines, basic
// authentication when a user is set. A write counts as sent when the server answered 2xx. A line
// the server refuses for good (400: unreadable, a field of another type, outside the retention
// policy) is found by writing halves of the write, then skipped, counted as refused and named
// with its row in the status, so that what follows it keeps flowing; a refused login (401,
// 403), a missing database (404), a server error, a reply longer than a few KB (cut off) or no
// answer within the timeouts is shown in the status and the write is tried again after a
// back-off.
class InfluxTarget : public ForwardTarget
{
    Q_OBJECT

public:
    // `password` is used only when settings.user is set.
    InfluxTarget(const InfluxForwarding& settings, const QString& password,
                 const ForwardTiming& timing = ForwardTiming(), QObject* parent = nullptr);
    // Ends a write in progress at once and the thread after it.
    ~InfluxTarget() override;

private:
    std::shared_ptr<InfluxInterrupt> m_interrupt;
};
