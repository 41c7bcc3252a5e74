#pragma once

#include <QMetaType>
#include <QString>

// Where one target stands, as its owner shows it.
struct ForwardStatus
{
    enum class State
    {
        Off,        // not started, or stopped
        Connecting, // first attempt, or a new one after a failure
        Connected,  // the server answers
        Failing,    // the last attempt failed; the next one waits for the back-off
    };

    State state = State::Off;
    // The last failure in words (empty until one happened); kept while connected again, so that
    // an outage that is over can still be told.
    QString lastError;
    int inFlight = 0; // sent, not yet acknowledged by the server
    // Taken over by the target's thread, not yet sent. Records handed over while that thread
    // waits for an answer are counted once it takes them; the caller's backlog is its cursor's.
    int waiting = 0;
    // Records the server refused for good (a line InfluxDB cannot store, a message the MQTT
    // library cannot send; sending them again would not change that). Skipped, counted and
    // named in lastError; shown as refusedText().
    qint64 refused = 0;
    int attempts = 0; // connections (MQTT) or requests (InfluxDB) tried since the target was made

    bool operator==(const ForwardStatus& other) const;
    bool operator!=(const ForwardStatus& other) const { return !(*this == other); }

    static QString stateText(State state);
    // "<target> refused N records", or empty text while nothing was refused.
    static QString refusedText(const QString& targetName, qint64 refused);
};

Q_DECLARE_METATYPE(ForwardStatus)
