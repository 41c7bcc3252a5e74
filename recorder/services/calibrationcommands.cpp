#include "calibrationcommands.h"

#include "accessgate.h"
#include "calibrationregister.h"
#include "calibrationtable.h"
#include "electronicsignature.h"
#include "projectaudit.h"
#include "signaturegrant.h"
#include "signaturetable.h"
#include "signedrecord.h"

CalibrationCommands::CalibrationCommands(AccessGate* gate, ProjectAudit* audit,
                                         CalibrationRegister* calibrations)
    : m_gate(gate), m_audit(audit), m_calibrations(calibrations)
{
}

void CalibrationCommands::enter(const CalibrationRecord& row, const Done& done)
{
    // Refused before a password is asked: a signature of what cannot be kept is worth nothing.
    CalibrationRecord checked = row;
    checked.enteredBy = QStringLiteral("-");
    const QString problem = checked.problem();
    if (!problem.isEmpty()) {
        done(Outcome::Refused, problem, std::nullopt);
        return;
    }
    const QString what = QStringLiteral("Calibration of node ") + row.serial + QLatin1Char(' ') +
                         row.column + QStringLiteral(", certificate ") + row.certificate;
    const QString meaning = CalibrationTable::recordedMeaning();
    AccessGate* gate = m_gate;
    // The answer may come after this object is gone: nothing of it is kept but the pointers.
    QPointer<ProjectAudit> audit = m_audit;
    QPointer<CalibrationRegister> calibrations = m_calibrations;
    m_gate->sign(
        AccessPolicy::Action::RecordCalibrations, meaning, what,
        [=](const AccessGate::SignatureAnswer& answer) {
            if (answer.outcome == AccessGate::SignatureAnswer::Cancelled || !calibrations) {
                done(Outcome::Cancelled, QString(), std::nullopt);
                return;
            }
            const bool signedNow =
                answer.outcome == AccessGate::SignatureAnswer::Signed && answer.grant.has_value();
            const ProjectAudit::Actor actor =
                signedNow ? ProjectAudit::Actor{answer.grant->signer, QString()}
                          : gate->deskActor();
            QString who = actor.user;
            if (signedNow && !answer.grant->fullName.isEmpty() &&
                answer.grant->fullName != answer.grant->signer)
                who += QStringLiteral(" (") + answer.grant->fullName + QLatin1Char(')');
            QString refused;
            const std::optional<CalibrationRecord> made = calibrations->prepare(row, who, &refused);
            if (!made) {
                done(Outcome::Refused, refused, std::nullopt);
                return;
            }
            if (signedNow) {
                const ElectronicSignature signature = SignatureTable::make(
                    CalibrationTable::signedRecord(*made), answer.grant->signer,
                    answer.grant->fullName, meaning, answer.grant->timeMs);
                calibrations->add(*made, &signature);
            } else {
                calibrations->add(*made);
            }
            if (audit)
                audit->calibrationEntered(*made, actor);
            done(Outcome::Done, QString(), made);
        });
}
