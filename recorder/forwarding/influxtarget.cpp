#include "influxtarget.h"

#include "curllibrary.h"
#include "influxworker.h"

InfluxTarget::InfluxTarget(const InfluxForwarding& settings, const QString& password,
                           const ForwardTiming& timing, QObject* parent)
    : ForwardTarget(parent)
{
    // Before the worker makes its first handle.
    CurlLibrary::setUp();
    m_interrupt = std::make_shared<InfluxInterrupt>();
    startWorker(new InfluxWorker(settings, password, timing, m_interrupt));
}

InfluxTarget::~InfluxTarget()
{
    m_interrupt->interrupt();
    stopWorker();
}
