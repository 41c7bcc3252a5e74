#pragma once

#include <QString>

#include <optional>

// The roles of a project's users and the changing actions each may take. Each role may do what
// the one below it may, and more: Operators view and acknowledge; Supervisors also change what
// the recording watches and tells; Administrators also manage users, gateways, the interval and
// access control itself.
class AccessPolicy
{
public:
    enum class Role
    {
        Operator,
        Supervisor,
        Administrator,
    };

    enum class Action
    {
        View,
        Acknowledge,
        ChangeLimits,
        ChangeAlarmRules,
        ChangeNotifications,
        ChangeForwarding,
        StartStopRecording,
        CloseWhileRecording,
        ShelveAlarms,       // shelving a channel's alarms for a while
        PutOutOfService,    // a node out of service, or its daily schedule
        ApproveReports,     // approving a report in Tallyforge
        ReviewRecords,      // a signed periodic review of the audit trail
        RecordCalibrations, // a sensor's calibration certificate entered in the register
        RunAlarmTests,      // a test alarm sent through every notification and forwarding target
        ManageUsers,
        ChangeGateways,
        ChangeInterval,
        ChangeAccessControl,
        ChangeBackups, // where, when and how many copies of the project's database are kept
    };

    static bool allows(Role role, Action action);
    // The least role allowed to do the action.
    static Role neededFor(Action action);

    // "Operator", "Supervisor", "Administrator": the texts stored and shown.
    static QString roleText(Role role);
    // The role of a text, letter case ignored; nullopt for any other text.
    static std::optional<Role> roleFromText(const QString& text);
};
