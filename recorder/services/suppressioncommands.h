#pragma once

#include "alarmsuppression.h"

#include <QDateTime>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AccessGate;
class AlarmShelves;
class ProjectAudit;

// A Supervisor's shelve or out-of-service time, from the command to the records: the access
// gate asks for the signature ("shelved", "put out of service"; nothing without access
// control), the shelve is made and written, its audit entry and then its signature handed to
// the writer in that order. Ending one early asks the gate as any change does and is recorded
// as well. Nothing here waits: the answer comes through `done`, now or from the event loop.
class SuppressionCommands
{
public:
    enum class Outcome
    {
        Done,
        Refused,  // the request was out of bounds (`problem` says why)
        Cancelled // the signature or sign-in was cancelled or refused (recorded by the gate)
    };
    using Done = std::function<void(Outcome outcome, const QString& problem,
                                    const std::optional<AlarmSuppression>& made)>;

    // The meanings the signatures carry.
    static QString shelvedMeaning() { return QStringLiteral("shelved"); }
    static QString outOfServiceMeaning() { return QStringLiteral("put out of service"); }

    // `gate` outlives this; `audit` and `shelves` may go with the project (then nothing is
    // made and `done` gets Cancelled).
    SuppressionCommands(AccessGate* gate, ProjectAudit* audit, AlarmShelves* shelves);

    void shelve(const QString& serial, int channel, int seconds, const QString& reason,
                const Done& done);
    void putOutOfService(const QString& serial, const QDateTime& until, const QString& reason,
                         const Done& done);
    // Unshelve, or back in service.
    void end(const AlarmSuppression& suppression, const Done& done);

private:
    using Make =
        std::function<std::optional<AlarmSuppression>(const QString& user, QString* problem)>;
    void signAndMake(bool shelve, const QString& what, const Make& make, const Done& done);

    AccessGate* m_gate;
    QPointer<ProjectAudit> m_audit;
    QPointer<AlarmShelves> m_shelves;
};
