#include "influxtarget.h"

#include "influxworker.h"

#include <curl/curl.h>

#include <mutex>

InfluxTarget::InfluxTarget(const InfluxForwarding& settings, const QString& password,
                           const ForwardTiming& timing, QObject* parent)
    : ForwardTarget(parent)
{
    // libcurl's global set-up runs once per process, before any handle exists.
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_interrupt = std::make_shared<InfluxInterrupt>();
    startWorker(new InfluxWorker(settings, password, timing, m_interrupt));
}

InfluxTarget::~InfluxTarget()
{
    m_interrupt->interrupt();
    stopWorker();
}
