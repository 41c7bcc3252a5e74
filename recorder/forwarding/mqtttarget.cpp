#include "mqtttarget.h"

#include "mqttworker.h"

#include <mosquitto.h>

#include <mutex>

MqttTarget::MqttTarget(const MqttForwarding& settings, const QString& password,
                       const ForwardTiming& timing, QObject* parent)
    : ForwardTarget(parent)
{
    // The library's global set-up (OpenSSL's included) runs once per process, before any
    // client exists.
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    startWorker(new MqttWorker(settings, password, timing));
}

MqttTarget::~MqttTarget()
{
    stopWorker();
}
