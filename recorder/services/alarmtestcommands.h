#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class AccessGate;
class AlarmTestRun;
class ProjectServices;
class QObject;

// An alarm test, from the command to the records: the access gate asks for the signature
// ("performed"; nothing without access control, when the desk's account runs it unsigned), the
// test goes out through every target of the open project (AlarmTestRun), and once every target
// answered (or the time-out passed) its rows go to the writer with the signature, and its audit
// entry right after. Nothing here waits: the run comes back through `started`.
class AlarmTestCommands
{
public:
    // The run, parented to the `owner` given to run(), so that what shows it can follow its
    // answers; null when the signature was cancelled or refused, or the project went.
    using Started = std::function<void(AlarmTestRun* run)>;

    // `gate` outlives this; `services` may lose its project meanwhile (then nothing starts).
    AlarmTestCommands(AccessGate* gate, ProjectServices* services);

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // `serial` empty: all nodes.
    void run(const QString& serial, QObject* owner, const Started& started);

private:
    AccessGate* m_gate;
    QPointer<ProjectServices> m_services;
    int m_timeoutMs;
};
