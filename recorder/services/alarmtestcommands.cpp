#include "alarmtestcommands.h"

#include "accessgate.h"
#include "alarmtestlog.h"
#include "alarmtestrun.h"
#include "alarmtesttable.h"
#include "electronicsignature.h"
#include "nodeconfig.h"
#include "projectaudit.h"
#include "projectforwarding.h"
#include "projectnotifications.h"
#include "projectservices.h"
#include "signaturegrant.h"
#include "signaturetable.h"
#include "signedrecord.h"

AlarmTestCommands::AlarmTestCommands(AccessGate* gate, ProjectServices* services)
    : m_gate(gate), m_services(services), m_timeoutMs(AlarmTestRun::DefaultTimeoutMs)
{
}

void AlarmTestCommands::run(const QString& serial, QObject* owner, const Started& started)
{
    QPointer<ProjectServices> services = m_services;
    if (!services || !services->alarmTests()) {
        started(nullptr);
        return;
    }
    QStringList serials;
    QString nodesText = QStringLiteral("all nodes");
    for (const NodeConfig& node : services->nodes()) {
        if (!serial.isEmpty() && node.deviceNumber != serial)
            continue;
        serials << node.deviceNumber;
        if (!serial.isEmpty())
            nodesText = node.deviceName.isEmpty() ? node.deviceNumber
                                                  : node.deviceName + QStringLiteral(" (") +
                                                        node.deviceNumber + QLatin1Char(')');
    }
    if (!serial.isEmpty() && serials.isEmpty()) {
        serials << serial;
        nodesText = serial;
    }
    const QString what = QStringLiteral("Alarm test of ") + nodesText;
    const QString meaning = AlarmTestTable::performedMeaning();
    AccessGate* gate = m_gate;
    QPointer<QObject> guardedOwner(owner);
    const int timeoutMs = m_timeoutMs;
    m_gate->sign(
        AccessPolicy::Action::RunAlarmTests, meaning, what,
        [=](const AccessGate::SignatureAnswer& answer) {
            if (answer.outcome == AccessGate::SignatureAnswer::Cancelled || !services ||
                !services->alarmTests() || !guardedOwner) {
                started(nullptr);
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

            AlarmTestLog* log = services->alarmTests();
            AlarmTestRun::Request request;
            request.testId = log->newTestId();
            request.time = log->now().toSecsSinceEpoch();
            request.user = who;
            request.project = services->projectName();
            request.serial = serial;
            request.nodesText = nodesText;
            request.serials = serials;

            ProjectNotifications* notifications = services->notifications();
            Forwarder* forwarder =
                services->forwarding() ? services->forwarding()->forwarder() : nullptr;
            auto* run = new AlarmTestRun(notifications ? notifications->service() : nullptr,
                                         forwarder, guardedOwner);
            run->setTimeoutMs(timeoutMs);
            if (notifications)
                run->setUnavailable(notifications->unavailableTargets());
            const std::optional<SignatureGrant> grant =
                signedNow ? answer.grant : std::optional<SignatureGrant>();
            QObject::connect(
                run, &AlarmTestRun::finished, log,
                [log, services, grant, meaning, actor](const QVector<AlarmTestRecord>& rows) {
                    if (rows.isEmpty())
                        return;
                    if (grant) {
                        const ElectronicSignature signature =
                            SignatureTable::make(AlarmTestTable::signedRecord(rows), grant->signer,
                                                 grant->fullName, meaning, grant->timeMs);
                        log->add(rows, &signature);
                    } else {
                        log->add(rows);
                    }
                    if (services && services->audit())
                        services->audit()->alarmTestPerformed(rows, actor);
                });
            run->start(request, notifications ? notifications->readyTargets()
                                              : QVector<NotificationTarget>());
            started(run);
        });
}
