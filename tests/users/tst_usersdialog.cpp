// The Users dialog against a real session on a temporary project database: the first
// Administrator switching access control on, an Administrator's changes recorded in their name
// with the reason, what Operators and Supervisors are refused, the last Administrator kept, and
// a sign-in asked again once the Administrator was signed out.

#include "desksession.h"
#include "signaturedialog.h"
#include "userformdialog.h"
#include "usersdialog.h"
#include "usertablemodel.h"
#include "windowfit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QtTest>

using Action = AccessPolicy::Action;
using Role = AccessPolicy::Role;

namespace {

const QString Reason = QStringLiteral("Asked for by the quality manager");

// The questions answered as a person at the desk would: a sign-in as `name` when one is asked
// for, the reason given, and yes or no to the confirmation. Each question counted.
struct Answers
{
    QString name;
    QByteArray password;
    QString reason = Reason;
    bool confirm = true;
    // The signature given with the signed-in user's id and password (false: cancelled).
    bool sign = true;
    // Left to the dialog's own signature dialog (the test fills it in).
    bool signatureDialog = false;
    int signIns = 0;
    int reasons = 0;
    int confirmations = 0;
    int signatures = 0;

    UsersDialog::Questions questions(DeskSession* desk)
    {
        UsersDialog::Questions q;
        q.signIn = [this, desk](SignInSession* session, Action action, const QString&, QWidget*) {
            ++signIns;
            if (name.isEmpty() || !desk->signIn(name, password))
                return false;
            return session->allows(action);
        };
        q.reason = [this](const QString&, QString* given, QWidget*) {
            ++reasons;
            *given = reason;
            return !reason.isEmpty();
        };
        q.confirm = [this](const QString&, QWidget*) {
            ++confirmations;
            return confirm;
        };
        if (signatureDialog)
            return q;
        q.sign = [this](SignInSession* session, const QString& meaning, const QString&, QWidget*,
                        const UsersDialog::Questions::SignDone& done) {
            ++signatures;
            if (!sign || !session->user() || meaning != QLatin1String("approved")) {
                done(std::nullopt);
                return;
            }
            const QString id = session->user()->name;
            QByteArray typed = password;
            for (const DeskSession::Person& person : DeskSession::team())
                if (person.name == id)
                    typed = person.password;
            session->sign(id, typed,
                          [done](const UserDirectory::SignInResult&,
                                 const std::optional<SignatureGrant>& grant) { done(grant); });
        };
        return q;
    }
};

bool finished(QSignalSpy* spy)
{
    return !spy->isEmpty() || spy->wait(10000);
}

// The newest user change of the trail; under access control the entry after it must be its
// signature (empty entry otherwise, so that the comparisons after fail).
AuditEntry lastChange(const QVector<AuditEntry>& trail, bool signedChange)
{
    if (!signedChange)
        return trail.isEmpty() ? AuditEntry() : trail.constLast();
    if (trail.size() < 2 || trail.constLast().action != QLatin1String("signed") ||
        trail.constLast().object !=
            QStringLiteral("user change %1").arg(trail.at(trail.size() - 2).sequence))
        return AuditEntry();
    return trail.at(trail.size() - 2);
}

} // namespace

class TestUsersDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstAdministrator_data();
    void firstAdministrator();
    void administratorChanges_data();
    void administratorChanges();
    void whoMayOpen_data();
    void whoMayOpen();
    void signedOutMeanwhile();
    void changedAtAnotherDesk_data();
    void buttonsOpenTheirForms_data();
    void buttonsOpenTheirForms();
    void changedAtAnotherDesk();
    void listShot();
};

void TestUsersDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestUsersDialog::firstAdministrator_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("confirmations");
    QTest::addColumn<bool>("accessControlOn");
    QTest::addColumn<QString>("message");

    QTest::newRow("confirmed") << "anna" << int(Role::Administrator) << DeskSession::AdminPassword
                               << true << 1 << true << "\"anna\" was added.";
    QTest::newRow("not confirmed")
        << "anna" << int(Role::Administrator) << DeskSession::AdminPassword << false << 1 << false
        << "Not changed.";
    QTest::newRow("an Operator first")
        << "olga" << int(Role::Operator) << DeskSession::OperatorPassword << true << 0 << false
        << "Access control is off: add the first Administrator.";
    QTest::newRow("password too short, nothing sent")
        << "anna" << int(Role::Administrator) << QByteArray("short") << true << 0 << false
        << "The password must have at least 10 characters.";
    QTest::newRow("unfit name, nothing sent")
        << " anna" << int(Role::Administrator) << DeskSession::AdminPassword << true << 0 << false
        << "A user's name does not begin or end with a space.";
}

// Catches: access control switched on without the person's yes, a first user who is not an
// Administrator, an unfit password sent, or the first Administrator recorded in no one's name.
void TestUsersDialog::firstAdministrator()
{
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QByteArray, password);
    QFETCH(bool, confirm);
    QFETCH(int, confirmations);
    QFETCH(bool, accessControlOn);
    QFETCH(QString, message);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    Answers answers;
    answers.confirm = confirm;
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QVERIFY(dialog.admit());
    dialog.show();
    QVERIFY(dialog.noteLabel()->text().startsWith(QStringLiteral("Access control is off")));
    QCOMPARE(dialog.addButton()->text(), QStringLiteral("Add the first Administrator..."));
    QVERIFY(!dialog.disableButton()->isEnabled());
    const int before = desk.trail().size();

    QSignalSpy changed(&dialog, &UsersDialog::changeFinished);
    dialog.addUser(name, Role(role), password);
    QVERIFY(finished(&changed));
    QCOMPARE(dialog.messageLabel()->text(), message);
    QCOMPARE(answers.confirmations, confirmations);
    QCOMPARE(answers.reasons, 0);
    QCOMPARE(answers.signIns, 0);
    QCOMPARE(desk.session.accessControlOn(), accessControlOn);
    const QVector<AuditEntry> trail = desk.trail();
    QCOMPARE(trail.size(), before + (accessControlOn ? 1 : 0));
    if (accessControlOn) {
        QCOMPARE(trail.constLast().action, QStringLiteral("user added"));
        QCOMPARE(trail.constLast().user, QStringLiteral("desktop-account"));
        QCOMPARE(trail.constLast().object, name);
        QCOMPARE(trail.constLast().newValue.section(QLatin1Char(';'), 0, 0),
                 QStringLiteral("Administrator"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model()->rowCount(), 1, 10000);
        QVERIFY(dialog.noteLabel()->text().startsWith(QStringLiteral("No Administrator")));
    }
}

void TestUsersDialog::administratorChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("oldValue");
    QTest::addColumn<QString>("newValue");
    QTest::addColumn<QString>("message");

    QTest::newRow("add") << "add"
                         << "bert"
                         << "user added"
                         << ""
                         << "Operator"
                         << "\"bert\" was added.";
    QTest::newRow("disable") << "disable"
                             << "olga"
                             << "user disabled"
                             << "Operator, enabled"
                             << "Operator, disabled"
                             << "\"olga\" was disabled.";
    QTest::newRow("enable again") << "enable"
                                  << "olga"
                                  << "user enabled"
                                  << "Operator, disabled"
                                  << "Operator, enabled"
                                  << "\"olga\" was enabled.";
    QTest::newRow("reset password") << "reset"
                                    << "olga"
                                    << "password reset"
                                    << ""
                                    << "password changed"
                                    << "The password of \"olga\" was reset.";
    QTest::newRow("change role") << "role"
                                 << "olga"
                                 << "role changed"
                                 << "Operator"
                                 << "Supervisor"
                                 << "\"olga\" is now Supervisor.";
    QTest::newRow("full name") << "full name" << "olga" << "full name changed" << "" << "Olga Berg"
                               << "The full name of \"olga\" was changed.";
    QTest::newRow("add with a full name") << "add Bert Brandt" << "bert" << "user added" << ""
                                          << "Operator" << "\"bert\" was added.";
    QTest::newRow("change role, signed in the signature dialog")
        << "dialog role" << "olga" << "role changed" << "Operator" << "Supervisor"
        << "\"olga\" is now Supervisor.";
    QTest::newRow("signature cancelled") << "unsigned disable" << "olga" << "" << "" << ""
                                         << "Not changed: the change was not signed.";
    QTest::newRow("last Administrator disabled")
        << "disable"
        << "anna"
        << ""
        << ""
        << ""
        << "At least one enabled Administrator must remain.";
    QTest::newRow("last Administrator made Operator")
        << "demote"
        << "anna"
        << ""
        << ""
        << ""
        << "At least one enabled Administrator must remain.";
    QTest::newRow("no such user") << "reset"
                                  << "nobody"
                                  << ""
                                  << ""
                                  << ""
                                  << "";
    QTest::newRow("name taken") << "add"
                                << "OLGA"
                                << ""
                                << ""
                                << ""
                                << "There is already a user \"olga\".";
}

// Catches: a change not recorded, recorded in another's name or without the reason, a sign-in
// asked of an Administrator already signed in, or a refusal of the users' directory not shown;
// a change made without the Administrator's signature, or a signature not bound to its entry.
void TestUsersDialog::administratorChanges()
{
    QFETCH(QString, change);
    QFETCH(QString, object);
    QFETCH(QString, action);
    QFETCH(QString, oldValue);
    QFETCH(QString, newValue);
    QFETCH(QString, message);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVector<DeskSession::Person> team = DeskSession::team();
    if (change == QLatin1String("enable"))
        team[2].disabled = true;
    QVERIFY2(desk.add(team, &error), qPrintable(error));
    QVERIFY(desk.signIn(QStringLiteral("anna"), DeskSession::AdminPassword));
    Answers answers;
    answers.signatureDialog = change.startsWith(QLatin1String("dialog "));
    if (answers.signatureDialog)
        change = change.mid(7);
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QVERIFY(dialog.admit());
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.model()->rowCount(), 3, 10000);
    const int before = desk.trail().size();

    QSignalSpy changed(&dialog, &UsersDialog::changeFinished);
    if (answers.signatureDialog) {
        // Signed as a person would: the id and password typed into the dialog asking for it.
        answers.signatures = 1;
        QTimer::singleShot(0, &dialog, [&dialog] {
            QTRY_VERIFY_WITH_TIMEOUT(dialog.findChild<SignatureDialog*>(), 5000);
            auto* signature = dialog.findChild<SignatureDialog*>();
            QVERIFY(signature->isVisible());
            QTest::keyClicks(signature->userField(), QStringLiteral("anna"));
            signature->passwordField()->setText(QString::fromUtf8(DeskSession::AdminPassword));
            signature->confirm();
        });
    }
    if (change.startsWith(QLatin1String("unsigned "))) {
        answers.sign = false;
        change = change.mid(9);
    }
    if (change == QLatin1String("add"))
        dialog.addUser(object, Role::Operator, "bert-password-4");
    else if (change.startsWith(QLatin1String("add ")))
        dialog.addUser(object, Role::Operator, "bert-password-4", change.mid(4));
    else if (change == QLatin1String("full name"))
        dialog.setFullName(object, newValue);
    else if (change == QLatin1String("disable"))
        dialog.setUserDisabled(object, true);
    else if (change == QLatin1String("enable"))
        dialog.setUserDisabled(object, false);
    else if (change == QLatin1String("reset"))
        dialog.resetPassword(object, "new-password-5");
    else if (change == QLatin1String("role"))
        dialog.changeRole(object, Role::Supervisor);
    else
        dialog.changeRole(object, Role::Operator);
    QVERIFY(finished(&changed));
    QCOMPARE(answers.signIns, 0);
    QCOMPARE(answers.reasons, 1);
    QCOMPARE(answers.confirmations, 0);
    const QVector<AuditEntry> trail = desk.trail();
    if (action.isEmpty()) {
        QVERIFY(!changed.constLast().at(0).toBool());
        if (!message.isEmpty())
            QCOMPARE(dialog.messageLabel()->text(), message);
        else
            QVERIFY(!dialog.messageLabel()->text().isEmpty());
        QCOMPARE(trail.size(), before);
        QVERIFY(desk.session.allows(Action::ManageUsers));
        return;
    }
    QVERIFY2(changed.constLast().at(0).toBool(), qPrintable(dialog.messageLabel()->text()));
    QCOMPARE(dialog.messageLabel()->text(), message);
    QCOMPARE(answers.signatures, 1);
    // The change, then its signature by the Administrator, bound to the change's entry.
    QCOMPARE(trail.size(), before + 2);
    const AuditEntry& entry = trail.at(before);
    const AuditEntry& signature = trail.constLast();
    QCOMPARE(signature.action, QStringLiteral("signed"));
    QCOMPARE(signature.user, QStringLiteral("anna"));
    QCOMPARE(signature.object, QStringLiteral("user change %1").arg(entry.sequence));
    QVERIFY2(signature.newValue.startsWith(QStringLiteral("approved; ")),
             qPrintable(signature.newValue));
    QCOMPARE(entry.action, action);
    QCOMPARE(entry.user, QStringLiteral("anna"));
    QCOMPARE(entry.object, object);
    QCOMPARE(entry.oldValue, oldValue);
    // A user's row carries its digest after the value.
    QCOMPARE(entry.newValue.section(QLatin1Char(';'), 0, 0), newValue);
    QCOMPARE(entry.reason, Reason);
    // The list shows the change once read again.
    QTRY_VERIFY_WITH_TIMEOUT(dialog.model()->rowOf(object) >= 0, 10000);
    const UserRecord row = dialog.model()->users().at(dialog.model()->rowOf(object));
    QVERIFY(row.passwordHash.isEmpty());
    if (change == QLatin1String("disable"))
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model()
                                      ->data(dialog.model()->index(dialog.model()->rowOf(object),
                                                                   UserTableModel::StateColumn))
                                      .toString(),
                                  QStringLiteral("disabled"), 10000);
    if (change == QLatin1String("role"))
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model()
                                      ->data(dialog.model()->index(dialog.model()->rowOf(object),
                                                                   UserTableModel::RoleColumn))
                                      .toString(),
                                  QStringLiteral("Supervisor"), 10000);
    if (change.contains(QLatin1String("full name")) || change.startsWith(QLatin1String("add ")))
        QTRY_COMPARE_WITH_TIMEOUT(dialog.model()
                                      ->data(dialog.model()->index(dialog.model()->rowOf(object),
                                                                   UserTableModel::FullNameColumn))
                                      .toString(),
                                  change == QLatin1String("full name") ? newValue : change.mid(4),
                                  10000);
}

void TestUsersDialog::whoMayOpen_data()
{
    QTest::addColumn<QString>("signedIn");
    QTest::addColumn<QString>("answeredAs");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<int>("signIns");

    QTest::newRow("Administrator signed in") << "anna"
                                             << "" << true << 0;
    QTest::newRow("Operator, sign-in cancelled") << "olga"
                                                 << "" << false << 1;
    QTest::newRow("Supervisor, sign-in cancelled") << "sam"
                                                   << "" << false << 1;
    QTest::newRow("Supervisor signs in again as Supervisor") << "sam"
                                                             << "sam" << false << 1;
    QTest::newRow("nobody, Administrator signs in") << ""
                                                    << "anna" << true << 1;
    QTest::newRow("Operator, Administrator signs in") << "olga"
                                                      << "anna" << true << 1;
}

// Catches: the list of users shown to an Operator or Supervisor, or an Administrator asked to
// sign in again.
void TestUsersDialog::whoMayOpen()
{
    QFETCH(QString, signedIn);
    QFETCH(QString, answeredAs);
    QFETCH(bool, admitted);
    QFETCH(int, signIns);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVERIFY2(desk.add(DeskSession::team(), &error), qPrintable(error));
    QHash<QString, QByteArray> passwords;
    for (const DeskSession::Person& person : DeskSession::team())
        passwords.insert(person.name, person.password);
    if (!signedIn.isEmpty())
        QVERIFY(desk.signIn(signedIn, passwords.value(signedIn)));
    QCOMPARE(bool(desk.session.user()), !signedIn.isEmpty());
    Answers answers;
    answers.name = answeredAs;
    answers.password = passwords.value(answeredAs);
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QCOMPARE(dialog.admit(), admitted);
    QCOMPARE(answers.signIns, signIns);
}

// Catches: a change made in the name of an Administrator signed out after the idle time, instead
// of asking for a sign-in again.
void TestUsersDialog::signedOutMeanwhile()
{
    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVERIFY2(desk.add(DeskSession::team(), &error), qPrintable(error));
    QVERIFY(desk.signIn(QStringLiteral("anna"), DeskSession::AdminPassword));
    Answers answers;
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QVERIFY(dialog.admit());
    dialog.show();
    desk.session.signOut(SignInSession::SignOutCause::Idle);
    QVERIFY(dialog.noteLabel()->text().startsWith(QStringLiteral("No Administrator")));

    // Nobody answers the sign-in: nothing changes.
    QSignalSpy changed(&dialog, &UsersDialog::changeFinished);
    dialog.setUserDisabled(QStringLiteral("olga"), true);
    QVERIFY(finished(&changed));
    QCOMPARE(answers.signIns, 1);
    QCOMPARE(answers.reasons, 0);
    QCOMPARE(dialog.messageLabel()->text(),
             QStringLiteral("Not changed: an Administrator must be signed in."));

    // A Supervisor answering is not enough either; the Administrator is.
    for (const QString& who : {QStringLiteral("sam"), QStringLiteral("anna")}) {
        answers.name = who;
        answers.password = who == QLatin1String("sam") ? DeskSession::SupervisorPassword
                                                       : DeskSession::AdminPassword;
        changed.clear();
        dialog.setUserDisabled(QStringLiteral("olga"), true);
        QVERIFY(finished(&changed));
    }
    QCOMPARE(answers.signIns, 3);
    QCOMPARE(answers.reasons, 1);
    QVERIFY2(changed.constLast().at(0).toBool(), qPrintable(dialog.messageLabel()->text()));
    QCOMPARE(answers.signatures, 1);
    const AuditEntry last = lastChange(desk.trail(), true);
    QCOMPARE(last.action, QStringLiteral("user disabled"));
    QCOMPARE(last.user, QStringLiteral("anna"));
}

void TestUsersDialog::changedAtAnotherDesk_data()
{
    QTest::addColumn<bool>("accessControlBefore");
    QTest::addColumn<QString>("elsewhere");
    QTest::addColumn<QString>("message");

    QTest::newRow("access control switched on meanwhile")
        << false << "add Administrator"
        << "Access control was switched on meanwhile: sign in and try again.";
    // Her signature is refused first (as the signature dialog says): no change is sent.
    QTest::newRow("the signed-in Administrator disabled meanwhile")
        << true << "disable anna" << "Not changed: the change was not signed.";
    QTest::newRow("the signed-in Administrator made Operator meanwhile")
        << true << "demote anna"
        << "\"anna\" is no longer an enabled Administrator.";
}

// Catches: a change made on what the dialog saw last rather than on what holds when it is
// made: a "first" Administrator added in the desktop account's name after another desk switched
// access control on, or a change in the name of an Administrator another desk disabled.
void TestUsersDialog::changedAtAnotherDesk()
{
    QFETCH(bool, accessControlBefore);
    QFETCH(QString, elsewhere);
    QFETCH(QString, message);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVector<DeskSession::Person> team = DeskSession::team();
    team.append({QStringLiteral("bert"), Role::Administrator, "bert-password-4"});
    if (accessControlBefore) {
        QVERIFY2(desk.add(team, &error), qPrintable(error));
        QVERIFY(desk.signIn(QStringLiteral("anna"), DeskSession::AdminPassword));
    }
    Answers answers;
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QSignalSpy loaded(&dialog, &UsersDialog::usersLoaded);
    QVERIFY(dialog.admit());
    dialog.show();
    // The list read before the other desk changes it: this desk saw the state before.
    QVERIFY(loaded.wait(10000));

    // Another desk (or the command line) on the same file, through a connection of its own.
    SignInSession other;
    other.setCost(PasswordHash::least());
    QSignalSpy opened(&other, &SignInSession::opened);
    other.open(desk.databasePath());
    QVERIFY(opened.wait(10000));
    bool done = false;
    bool ok = false;
    other.run(
        [&](UserDirectory& users, QString* e) {
            if (elsewhere == QLatin1String("add Administrator"))
                return users.add(QStringLiteral("other-desk"), QStringLiteral("bert"),
                                 Role::Administrator, "bert-password-4", QString(), e);
            if (elsewhere == QLatin1String("disable anna"))
                return users.setDisabled(QStringLiteral("bert"), QStringLiteral("anna"), true,
                                         QStringLiteral("left"), e);
            return users.changeRole(QStringLiteral("bert"), QStringLiteral("anna"), Role::Operator,
                                    QStringLiteral("moved"), e);
        },
        [&](bool result, const QString& e) {
            done = true;
            ok = result;
            error = e;
        });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QVERIFY2(ok, qPrintable(error));
    // This desk has not heard of it yet.
    QCOMPARE(desk.session.accessControlOn(), accessControlBefore);
    const int before = desk.trail().size();

    QSignalSpy changed(&dialog, &UsersDialog::changeFinished);
    if (accessControlBefore)
        dialog.setUserDisabled(QStringLiteral("olga"), true);
    else
        dialog.addUser(QStringLiteral("anna"), Role::Administrator, DeskSession::AdminPassword);
    QVERIFY(finished(&changed));
    QVERIFY(!changed.constLast().at(0).toBool());
    QCOMPARE(dialog.messageLabel()->text(), message);
    // Nothing recorded but, where the session learnt that its user lost the role, the sign-out,
    // and a signature refused to a disabled user.
    const QVector<AuditEntry> after = desk.trail();
    for (int k = before; k < after.size(); ++k)
        QVERIFY2(after.at(k).action == SignInSession::signedOutAction() ||
                     after.at(k).action == QLatin1String("signature refused"),
                 qPrintable(after.at(k).action));
    other.close();
}

void TestUsersDialog::buttonsOpenTheirForms_data()
{
    QTest::addColumn<bool>("accessControl");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("formTitle"); // empty: no form
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("user");

    QTest::newRow("first Administrator") << false << "add"
                                         << ""
                                         << "Add the first Administrator"
                                         << "user added"
                                         << "bert"
                                         << "desktop-account";
    QTest::newRow("add") << true << "add"
                         << ""
                         << "Add a user"
                         << "user added"
                         << "bert"
                         << "anna";
    QTest::newRow("disable the selected") << true << "disable"
                                          << "olga"
                                          << ""
                                          << "user disabled"
                                          << "olga"
                                          << "anna";
    QTest::newRow("reset the selected") << true << "reset"
                                        << "sam"
                                        << "Reset the password"
                                        << "password reset"
                                        << "sam"
                                        << "anna";
    QTest::newRow("role of the selected") << true << "role"
                                          << "olga"
                                          << "Change the role"
                                          << "role changed"
                                          << "olga"
                                          << "anna";
    QTest::newRow("full name of the selected") << true << "full name"
                                               << "sam"
                                               << "Change the full name"
                                               << "full name changed"
                                               << "sam"
                                               << "anna";
}

// Catches: a button acting on another user than the one selected, or a form whose answers do
// not reach the change.
void TestUsersDialog::buttonsOpenTheirForms()
{
    QFETCH(bool, accessControl);
    QFETCH(QString, button);
    QFETCH(QString, selected);
    QFETCH(QString, formTitle);
    QFETCH(QString, action);
    QFETCH(QString, object);
    QFETCH(QString, user);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    if (accessControl) {
        QVERIFY2(desk.add(DeskSession::team(), &error), qPrintable(error));
        QVERIFY(desk.signIn(QStringLiteral("anna"), DeskSession::AdminPassword));
    }
    Answers answers;
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QVERIFY(dialog.admit());
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.model()->rowCount(), accessControl ? 3 : 0, 10000);
    if (!selected.isEmpty())
        dialog.view()->selectRow(dialog.model()->rowOf(selected));

    // The form is filled in as a person would, once it is shown.
    QString shownTitle;
    if (!formTitle.isEmpty())
        QTimer::singleShot(0, &dialog, [&shownTitle] {
            QTRY_VERIFY_WITH_TIMEOUT(
                qobject_cast<UserFormDialog*>(QApplication::activeModalWidget()), 5000);
            auto* form = qobject_cast<UserFormDialog*>(QApplication::activeModalWidget());
            shownTitle = form->windowTitle();
            if (!form->nameEdit()->isReadOnly())
                QTest::keyClicks(form->nameEdit(), QStringLiteral("bert"));
            if (form->roleBox()->isVisible() && form->roleBox()->isEnabled())
                form->roleBox()->setCurrentIndex(
                    form->roleBox()->findText(QStringLiteral("Supervisor")));
            if (form->fullNameEdit()->isVisible())
                QTest::keyClicks(form->fullNameEdit(), QStringLiteral("Sam Stone"));
            if (form->passwordEdit()->isVisible()) {
                QTest::keyClicks(form->passwordEdit(), QStringLiteral("fresh-password-9"));
                QTest::keyClicks(form->repeatEdit(), QStringLiteral("fresh-password-9"));
            }
            QTest::mouseClick(form->okButton(), Qt::LeftButton);
        });
    QSignalSpy changed(&dialog, &UsersDialog::changeFinished);
    QPushButton* pushed = button == QLatin1String("add")       ? dialog.addButton()
                          : button == QLatin1String("disable") ? dialog.disableButton()
                          : button == QLatin1String("reset")   ? dialog.resetButton()
                          : button == QLatin1String("role")    ? dialog.roleButton()
                                                               : dialog.fullNameButton();
    QVERIFY(pushed->isEnabled());
    QTest::mouseClick(pushed, Qt::LeftButton);
    QVERIFY(finished(&changed));
    QCOMPARE(shownTitle, formTitle);
    QVERIFY2(changed.constLast().at(0).toBool(), qPrintable(dialog.messageLabel()->text()));
    const AuditEntry last = lastChange(desk.trail(), accessControl);
    QCOMPARE(last.action, action);
    QCOMPARE(last.object, object);
    QCOMPARE(last.user, user);
    if (button == QLatin1String("full name"))
        QCOMPARE(last.newValue.section(QLatin1Char(';'), 0, 0), QStringLiteral("Sam Stone"));
    if (button == QLatin1String("role"))
        QCOMPARE(last.newValue.section(QLatin1Char(';'), 0, 0), QStringLiteral("Supervisor"));
    if (button == QLatin1String("add"))
        QCOMPARE(last.newValue.section(QLatin1Char(';'), 0, 0),
                 accessControl ? QStringLiteral("Supervisor") : QStringLiteral("Administrator"));
}

// The list as an Administrator sees it, for a person to look at: four users of each role, one
// disabled, one waiting after failed sign-ins.
void TestUsersDialog::listShot()
{
    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVector<DeskSession::Person> team = DeskSession::team();
    team.append({QStringLiteral("bert"), Role::Operator, "bert-password-4", true});
    QVERIFY2(desk.add(team, &error), qPrintable(error));
    for (int i = 0; i < 5; ++i)
        QVERIFY(desk.signIn(QStringLiteral("sam"), "wrong-password"));
    QVERIFY(desk.signIn(QStringLiteral("olga"), "wrong-password"));
    QVERIFY(desk.signIn(QStringLiteral("anna"), DeskSession::AdminPassword));
    Answers answers;
    UsersDialog dialog(&desk.session, QStringLiteral("desktop-account"), answers.questions(&desk));
    QVERIFY(dialog.admit());
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.model()->rowCount(), 4, 10000);
    UserTableModel* model = dialog.model();
    const auto cell = [model](const QString& name, int column) {
        return model->data(model->index(model->rowOf(name), column)).toString();
    };
    QCOMPARE(cell(QStringLiteral("bert"), UserTableModel::StateColumn), QStringLiteral("disabled"));
    QCOMPARE(cell(QStringLiteral("sam"), UserTableModel::FailuresColumn), QStringLiteral("5"));
    QVERIFY(!cell(QStringLiteral("sam"), UserTableModel::WaitColumn).isEmpty());
    QCOMPARE(cell(QStringLiteral("olga"), UserTableModel::FailuresColumn), QStringLiteral("1"));
    QVERIFY(cell(QStringLiteral("olga"), UserTableModel::WaitColumn).isEmpty());
    dialog.view()->selectRow(model->rowOf(QStringLiteral("bert")));
    QCOMPARE(dialog.disableButton()->text(), QStringLiteral("Enable"));
    QVERIFY(dialog.resetButton()->isEnabled());
    dialog.view()->resizeColumnsToContents();
    WindowFit::saveShot(&dialog, QStringLiteral("users-dialog"));
}

QTEST_MAIN(TestUsersDialog)
#include "tst_usersdialog.moc"
