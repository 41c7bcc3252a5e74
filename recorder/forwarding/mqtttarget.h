#pragma once

#include "forwardingsettings.h"
#include "forwardtarget.h"
#include "forwardtiming.h"

// Forwarding to an MQTT broker (MQTT 3.1.1 through libmosquitto; layout in MqttLayout): each
// record is one QoS 1 message and counts as sent when the broker's PUBACK came. At most
// ForwardTiming::maxInFlight messages are unacknowledged at a time; after a lost connection
// they are sent again, first. A refused login ("not authorised"), a TLS failure or a broker
// that does not answer within the connect timeout is shown in the status and retried after a
// back-off.
class MqttTarget : public ForwardTarget
{
    Q_OBJECT

public:
    // `password` is used only when settings.user is set.
    MqttTarget(const MqttForwarding& settings, const QString& password,
               const ForwardTiming& timing = ForwardTiming(), QObject* parent = nullptr);
    // Says "offline" on the status topic, disconnects without waiting for the broker and ends
    // the thread.
    ~MqttTarget() override;
};
