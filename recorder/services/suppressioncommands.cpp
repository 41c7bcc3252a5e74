#include "suppressioncommands.h"

#include "accessgate.h"
#include "alarmshelves.h"
#include "alarmsuppressiontable.h"
#include "electronicsignature.h"
#include "projectaudit.h"
#include "signaturegrant.h"
#include "signedrecord.h"

SuppressionCommands::SuppressionCommands(AccessGate* gate, ProjectAudit* audit,
                                         AlarmShelves* shelves)
    : m_gate(gate), m_audit(audit), m_shelves(shelves)
{
}

void SuppressionCommands::shelve(const QString& serial, int channel, int seconds,
                                 const QString& reason, const Done& done)
{
    const QString what = QStringLiteral("Shelve node ") + serial +
                         (channel == 0 ? QStringLiteral(", all alarms")
                                       : QStringLiteral(", channel %1").arg(channel));
    // The answer may come after this object is gone: nothing of it is kept but the pointers.
    QPointer<AlarmShelves> shelves = m_shelves;
    signAndMake(
        true, what,
        [=](const QString& user, QString* problem) -> std::optional<AlarmSuppression> {
            if (!shelves)
                return std::nullopt;
            return shelves->shelve(serial, channel, seconds, reason, user, problem);
        },
        done);
}

void SuppressionCommands::putOutOfService(const QString& serial, const QDateTime& until,
                                          const QString& reason, const Done& done)
{
    QPointer<AlarmShelves> shelves = m_shelves;
    signAndMake(
        false, QStringLiteral("Put node ") + serial + QStringLiteral(" out of service"),
        [=](const QString& user, QString* problem) -> std::optional<AlarmSuppression> {
            if (!shelves)
                return std::nullopt;
            return shelves->putOutOfService(serial, until, reason, user, problem);
        },
        done);
}

void SuppressionCommands::signAndMake(bool shelve, const QString& what, const Make& make,
                                      const Done& done)
{
    const AccessPolicy::Action action =
        shelve ? AccessPolicy::Action::ShelveAlarms : AccessPolicy::Action::PutOutOfService;
    const QString meaning = shelve ? shelvedMeaning() : outOfServiceMeaning();
    AccessGate* gate = m_gate;
    QPointer<ProjectAudit> audit = m_audit;
    QPointer<AlarmShelves> shelves = m_shelves;
    m_gate->sign(action, meaning, what, [=](const AccessGate::SignatureAnswer& answer) {
        if (answer.outcome == AccessGate::SignatureAnswer::Cancelled || !shelves) {
            done(Outcome::Cancelled, QString(), std::nullopt);
            return;
        }
        const bool signedNow =
            answer.outcome == AccessGate::SignatureAnswer::Signed && answer.grant.has_value();
        const ProjectAudit::Actor actor =
            signedNow ? ProjectAudit::Actor{answer.grant->signer, QString()} : gate->deskActor();
        QString problem;
        const std::optional<AlarmSuppression> made = make(actor.user, &problem);
        if (!made) {
            done(Outcome::Refused, problem, std::nullopt);
            return;
        }
        // The row went to the writer in make(); its entry and its signature follow in order.
        if (audit) {
            audit->suppressionStarted(*made, {actor.user, made->reason});
            if (signedNow)
                audit->recordSignature(AlarmSuppressionTable::signedRecord(*made), meaning,
                                       *answer.grant);
        }
        done(Outcome::Done, QString(), made);
    });
}

void SuppressionCommands::end(const AlarmSuppression& s, const Done& done)
{
    const bool shelve = s.kind == AlarmSuppression::Kind::Shelve;
    const QString what = (shelve ? QStringLiteral("Unshelve node ") : QStringLiteral("Node ")) +
                         s.serial + (shelve ? QString() : QStringLiteral(" back in service"));
    ProjectAudit::Actor actor;
    if (!m_gate->authorize(shelve ? AccessPolicy::Action::ShelveAlarms
                                  : AccessPolicy::Action::PutOutOfService,
                           what, &actor)) {
        done(Outcome::Cancelled, QString(), std::nullopt);
        return;
    }
    if (!m_shelves || !m_shelves->end(s.id)) {
        done(Outcome::Refused, QStringLiteral("It holds no more."), std::nullopt);
        return;
    }
    if (m_audit)
        m_audit->suppressionEnded(s, actor);
    done(Outcome::Done, QString(), s);
}
