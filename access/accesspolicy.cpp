#include "accesspolicy.h"

AccessPolicy::Role AccessPolicy::neededFor(Action action)
{
    switch (action) {
    case Action::View:
    case Action::Acknowledge:
    // Whoever answers the alarms may check that they still arrive: the test changes nothing.
    case Action::RunAlarmTests:
        return Role::Operator;
    case Action::ChangeLimits:
    case Action::ChangeAlarmRules:
    case Action::ChangeNotifications:
    case Action::ChangeForwarding:
    case Action::StartStopRecording:
    case Action::CloseWhileRecording:
    case Action::ShelveAlarms:
    case Action::PutOutOfService:
    case Action::ApproveReports:
    case Action::ReviewRecords:
    case Action::RecordCalibrations:
        return Role::Supervisor;
    case Action::ManageUsers:
    case Action::ChangeGateways:
    case Action::ChangeInterval:
    case Action::ChangeAccessControl:
    case Action::ChangeBackups:
        break;
    }
    // An action added without a role here is the Administrator's until decided otherwise.
    return Role::Administrator;
}

bool AccessPolicy::allows(Role role, Action action)
{
    return int(role) >= int(neededFor(action));
}

QString AccessPolicy::roleText(Role role)
{
    switch (role) {
    case Role::Operator:
        return QStringLiteral("Operator");
    case Role::Supervisor:
        return QStringLiteral("Supervisor");
    case Role::Administrator:
        break;
    }
    return QStringLiteral("Administrator");
}

std::optional<AccessPolicy::Role> AccessPolicy::roleFromText(const QString& text)
{
    for (const Role role : {Role::Operator, Role::Supervisor, Role::Administrator}) {
        if (text.compare(roleText(role), Qt::CaseInsensitive) == 0)
            return role;
    }
    return std::nullopt;
}
