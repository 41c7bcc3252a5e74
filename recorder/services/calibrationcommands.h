#pragma once

#include "calibrationrecord.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AccessGate;
class CalibrationRegister;
class ProjectAudit;

// A calibration certificate entered in the register, from the command to the records: the
// entry is checked before anyone is asked, the access gate asks for the signature ("recorded";
// nothing without access control, when the desk's account enters it unsigned), and the entry
// with its signature goes to the writer, its audit entry right after. Nothing here waits: the
// answer comes through `done`, now or from the event loop.
class CalibrationCommands
{
public:
    enum class Outcome
    {
        Done,
        Refused,  // a field out of bounds (`problem` says which)
        Cancelled // the signature or sign-in was cancelled or refused (recorded by the gate)
    };
    using Done = std::function<void(Outcome outcome, const QString& problem,
                                    const std::optional<CalibrationRecord>& made)>;

    // `gate` outlives this; `audit` and `calibrations` may go with the project (then nothing
    // is made and `done` gets Cancelled).
    CalibrationCommands(AccessGate* gate, ProjectAudit* audit, CalibrationRegister* calibrations);

    // `row` without id, who or when: those are given here.
    void enter(const CalibrationRecord& row, const Done& done);

private:
    AccessGate* m_gate;
    QPointer<ProjectAudit> m_audit;
    QPointer<CalibrationRegister> m_calibrations;
};
