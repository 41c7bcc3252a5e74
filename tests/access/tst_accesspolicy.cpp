// Which role may take which changing action, and the role texts stored in the users table.

#include "accesspolicy.h"

#include <QtTest>

using Role = AccessPolicy::Role;
using Action = AccessPolicy::Action;

Q_DECLARE_METATYPE(AccessPolicy::Role)
Q_DECLARE_METATYPE(AccessPolicy::Action)

class TestAccessPolicy : public QObject
{
    Q_OBJECT

private slots:
    void allows_data();
    void allows();
    void roleTexts_data();
    void roleTexts();
};

void TestAccessPolicy::allows_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<Role>("role");
    QTest::addColumn<bool>("allowed");
    // The least role of each action as the users were promised it; every role is tried on each.
    const struct
    {
        const char* name;
        Action action;
        Role least;
    } actions[] = {
        {"view", Action::View, Role::Operator},
        {"acknowledge", Action::Acknowledge, Role::Operator},
        {"alarm test", Action::RunAlarmTests, Role::Operator},
        {"limits", Action::ChangeLimits, Role::Supervisor},
        {"alarm rules", Action::ChangeAlarmRules, Role::Supervisor},
        {"notifications", Action::ChangeNotifications, Role::Supervisor},
        {"forwarding", Action::ChangeForwarding, Role::Supervisor},
        {"start/stop recording", Action::StartStopRecording, Role::Supervisor},
        {"close while recording", Action::CloseWhileRecording, Role::Supervisor},
        {"users", Action::ManageUsers, Role::Administrator},
        {"gateways", Action::ChangeGateways, Role::Administrator},
        {"interval", Action::ChangeInterval, Role::Administrator},
        {"access control", Action::ChangeAccessControl, Role::Administrator},
        {"backups", Action::ChangeBackups, Role::Administrator},
    };
    const struct
    {
        const char* name;
        Role role;
    } roles[] = {{"Operator", Role::Operator},
                 {"Supervisor", Role::Supervisor},
                 {"Administrator", Role::Administrator}};
    for (const auto& a : actions) {
        for (const auto& r : roles) {
            QTest::addRow("%s by %s", a.name, r.name)
                << a.action << r.role << (int(r.role) >= int(a.least));
        }
    }
}

// Catches: an Operator allowed to change a limit, a Supervisor allowed to manage users or the
// interval, an Administrator refused anything, an action that fell out of the role switch.
void TestAccessPolicy::allows()
{
    QFETCH(Action, action);
    QFETCH(Role, role);
    QTEST(AccessPolicy::allows(role, action), "allowed");
}

void TestAccessPolicy::roleTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("stored");
    QTest::newRow("Operator") << QStringLiteral("Operator") << true << QStringLiteral("Operator");
    QTest::newRow("letter case ignored")
        << QStringLiteral("supervisor") << true << QStringLiteral("Supervisor");
    QTest::newRow("ADMINISTRATOR")
        << QStringLiteral("ADMINISTRATOR") << true << QStringLiteral("Administrator");
    QTest::newRow("empty") << QString() << false << QString();
    QTest::newRow("prefix") << QStringLiteral("Admin") << false << QString();
    QTest::newRow("trailing blank") << QStringLiteral("Operator ") << false << QString();
    QTest::newRow("root") << QStringLiteral("root") << false << QString();
}

// Catches: a typed role that is not one of the three taken as one, a role stored in another
// spelling than the one the check and the list read.
void TestAccessPolicy::roleTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, known);
    const std::optional<Role> role = AccessPolicy::roleFromText(text);
    QCOMPARE(bool(role), known);
    if (role)
        QTEST(AccessPolicy::roleText(*role), "stored");
}

QTEST_GUILESS_MAIN(TestAccessPolicy)
#include "tst_accesspolicy.moc"
