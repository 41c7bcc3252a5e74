#pragma once

// The times and limits of a target. The defaults are for real servers; tests shorten them.
struct ForwardTiming
{
    int retryFirstMs = 2000;      // first wait after a failure; doubles with each one after
    int retryMaxMs = 300000;      // longest wait between two attempts
    int connectTimeoutMs = 15000; // connection up to the broker's answer, or HTTP connect
    int requestTimeoutMs = 60000; // one HTTP write from start to answer
    int keepAliveSeconds = 30;    // MQTT keep-alive: a silent broker is noticed within 1.5x
    int maxInFlight = 200;        // MQTT messages sent and not yet acknowledged
    int batchLines = 5000;        // InfluxDB lines per write
    int reportIntervalMs = 100;   // acknowledgements and counters are passed on at most this often
};
