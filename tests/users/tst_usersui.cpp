// The small windows of the users: the Sign in dialog against a real session (wrong password, a
// role too low for the action, the right user), the reason dialog's rules, the user form's
// checks before anything is sent, and the status bar's sign-in indicator with idle sign-out on
// an injectable clock.

#include "desksession.h"
#include "reasondialog.h"
#include "signindialog.h"
#include "signinstatus.h"
#include "userformdialog.h"
#include "windowfit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using Action = AccessPolicy::Action;
using Role = AccessPolicy::Role;
using Mode = UserFormDialog::Mode;

Q_DECLARE_METATYPE(Mode)

class TestUsersUi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signInDialog_data();
    void signInDialog();
    void reasonDialog_data();
    void reasonDialog();
    void userForm_data();
    void userForm();
    void signInStatus_data();
    void signInStatus();
};

void TestUsersUi::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestUsersUi::signInDialog_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("action"); // -1: a plain sign-in
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");

    QTest::newRow("wrong password")
        << "anna" << QByteArray("not-her-password") << int(Action::ManageUsers) << false
        << "The name or the password is wrong.";
    QTest::newRow("no name") << "" << DeskSession::AdminPassword << int(Action::ManageUsers)
                             << false << "Enter your user name.";
    QTest::newRow("Operator for limits")
        << "olga" << DeskSession::OperatorPassword << int(Action::ChangeLimits) << false
        << "\"olga\" is an Operator; this needs a Supervisor or a role above it.";
    QTest::newRow("Supervisor for users")
        << "sam" << DeskSession::SupervisorPassword << int(Action::ManageUsers) << false
        << "\"sam\" is a Supervisor; this needs an Administrator or a role above it.";
    QTest::newRow("Supervisor for limits")
        << "sam" << DeskSession::SupervisorPassword << int(Action::ChangeLimits) << true << "";
    QTest::newRow("Administrator for users")
        << "anna" << DeskSession::AdminPassword << int(Action::ManageUsers) << true << "";
    QTest::newRow("Operator, plain sign-in")
        << "olga" << DeskSession::OperatorPassword << -1 << true << "";
}

// Catches: a dialog that closes for a wrong password or too low a role, one that does not say
// which role is needed, or one that stays open for the right user.
void TestUsersUi::signInDialog()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, password);
    QFETCH(int, action);
    QFETCH(bool, accepted);
    QFETCH(QString, message);

    DeskSession desk;
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QVERIFY2(desk.add(DeskSession::team(), &error), qPrintable(error));
    std::optional<Action> needed;
    if (action >= 0)
        needed = Action(action);
    SignInDialog dialog(&desk.session, needed, QStringLiteral("Change the limits of node 1001."));
    dialog.show();
    QSignalSpy done(&dialog, &QDialog::finished);
    QTest::keyClicks(dialog.nameEdit(), name);
    QTest::keyClicks(dialog.passwordEdit(), QString::fromUtf8(password));
    QTest::mouseClick(dialog.signInButton(), Qt::LeftButton);
    // The password field is emptied as soon as it is sent.
    QCOMPARE(dialog.passwordEdit()->text().isEmpty(), !name.isEmpty());
    if (accepted) {
        QVERIFY(done.wait(10000));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(desk.session.user()->name, name);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dialog.messageLabel()->text(), message, 10000);
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.signInButton()->isEnabled());
    QVERIFY(done.isEmpty());
    if (QByteArray(QTest::currentDataTag()) == "Operator for limits")
        WindowFit::saveShot(&dialog, QStringLiteral("users-sign-in-role-too-low"));
}

void TestUsersUi::reasonDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("okEnabled");
    QTest::addColumn<QString>("recorded");

    QTest::newRow("blank") << "   \n\t " << false << "";
    QTest::newRow("plain") << "Door seal replaced" << true << "Door seal replaced";
    QTest::newRow("spaces trimmed") << "  new shift lead  " << true << "new shift lead";
    QTest::newRow("line breaks and tabs as spaces")
        << "Audit\nasked\tfor it" << true << "Audit asked for it";
    QTest::newRow("control characters as spaces") << QString::fromUtf8("bell\x07"
                                                                       "escape\x1b[2J")
                                                  << true << "bell escape [2J";
    QTest::newRow("at most 500 characters")
        << QString(500, QLatin1Char('r')) << true << QString(500, QLatin1Char('r'));
    QTest::newRow("501 characters") << QString(501, QLatin1Char('r')) << false << "";
}

// Catches: a blank or overlong reason accepted, or control characters recorded as typed.
void TestUsersUi::reasonDialog()
{
    QFETCH(QString, typed);
    QFETCH(bool, okEnabled);
    QFETCH(QString, recorded);

    ReasonDialog dialog(QStringLiteral("Disable the user \"olga\"."));
    dialog.show();
    QVERIFY(!dialog.okButton()->isEnabled());
    dialog.textEdit()->setPlainText(typed);
    QCOMPARE(dialog.okButton()->isEnabled(), okEnabled);
    QCOMPARE(dialog.reason(), recorded);
}

void TestUsersUi::userForm_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<bool>("okEnabled");
    QTest::addColumn<QString>("problem");

    const QString good = QStringLiteral("cold-room-2026");
    QTest::newRow("add, fit") << Mode::Add << "bert" << good << good << true << "";
    QTest::newRow("add, passwords differ")
        << Mode::Add << "bert" << good << "cold-room-2025" << false << "The two passwords differ.";
    QTest::newRow("add, password too short")
        << Mode::Add << "bert"
        << "short"
        << "short" << false << "The password must have at least 10 characters.";
    QTest::newRow("add, ten characters counted, not bytes")
        << Mode::Add << "bert" << QString::fromUtf8("äöüäöüäöüä") << QString::fromUtf8("äöüäöüäöüä")
        << true << "";
    QTest::newRow("add, no name") << Mode::Add << "" << good << good << false
                                  << "A user needs a name.";
    QTest::newRow("add, name with a space at the end")
        << Mode::Add << "bert " << good << good << false
        << "A user's name does not begin or end with a space.";
    QTest::newRow("first Administrator, fit")
        << Mode::FirstAdministrator << "anna" << good << good << true << "";
    QTest::newRow("reset, fit") << Mode::ResetPassword << "olga" << good << good << true << "";
    QTest::newRow("reset, empty") << Mode::ResetPassword << "olga"
                                  << ""
                                  << "" << false << "";
    QTest::newRow("reset, differ")
        << Mode::ResetPassword << "olga" << good << "" << false << "The two passwords differ.";
    QTest::newRow("role") << Mode::ChangeRole << "olga"
                          << ""
                          << "" << true << "";
    // "NAME|FULL NAME": the full name set in its field.
    QTest::newRow("add, with a full name")
        << Mode::Add << "bert|Bert Brandt" << good << good << true << "";
    QTest::newRow("add, full name with a tab")
        << Mode::Add << "bert|Bert\tBrandt" << good << good << false
        << "A full name has no control characters.";
    QTest::newRow("full name, fit") << Mode::ChangeFullName << "olga|Olga Berg"
                                    << ""
                                    << "" << true << "";
    QTest::newRow("full name, removed") << Mode::ChangeFullName << "olga|"
                                        << ""
                                        << "" << true << "";
    QTest::newRow("full name, 101 characters")
        << Mode::ChangeFullName << "olga|" + QString(101, QLatin1Char('x')) << "" << "" << false
        << "A full name has at most 100 characters.";
}

// Catches: a form whose OK sends a password PasswordHash would refuse, two passwords that differ,
// an unfit name or full name.
void TestUsersUi::userForm()
{
    QFETCH(Mode, mode);
    QFETCH(QString, name);
    const QString fullName = name.section(QLatin1Char('|'), 1);
    const bool withFullName = name.contains(QLatin1Char('|'));
    name = name.section(QLatin1Char('|'), 0, 0);
    QFETCH(QString, password);
    QFETCH(QString, repeat);
    QFETCH(bool, okEnabled);
    QFETCH(QString, problem);

    const bool naming = mode == Mode::Add || mode == Mode::FirstAdministrator;
    UserFormDialog form(mode, naming ? QString() : name, Role::Operator);
    form.show();
    if (naming)
        QTest::keyClicks(form.nameEdit(), name);
    QCOMPARE(form.nameEdit()->isReadOnly(), !naming);
    if (withFullName)
        form.fullNameEdit()->setText(fullName);
    QCOMPARE(form.fullNameEdit()->isVisible(), naming || mode == Mode::ChangeFullName);
    QCOMPARE(form.passwordEdit()->isVisible(),
             mode != Mode::ChangeRole && mode != Mode::ChangeFullName);
    // Set, not typed: the test's key simulation knows no umlauts.
    form.passwordEdit()->setText(password);
    form.repeatEdit()->setText(repeat);
    QCOMPARE(form.okButton()->isEnabled(), okEnabled);
    QCOMPARE(form.problemLabel()->text(), problem);
    QCOMPARE(form.name(), name);
    if (mode == Mode::FirstAdministrator) {
        QCOMPARE(form.role(), Role::Administrator);
        QVERIFY(!form.roleBox()->isEnabled());
    }
    if (okEnabled && mode != Mode::ChangeRole && mode != Mode::ChangeFullName)
        QCOMPARE(form.password(), password.toUtf8());
    if (okEnabled)
        QCOMPARE(form.fullName(), fullName);
}

void TestUsersUi::signInStatus_data()
{
    QTest::addColumn<QList<int>>("keysAtMinutes");
    QTest::addColumn<QList<int>>("clicksAtMinutes");
    QTest::addColumn<int>("checkAtMinutes");
    QTest::addColumn<bool>("signedIn");

    QTest::newRow("still at work before the idle time")
        << QList<int>{} << QList<int>{} << 14 << true;
    QTest::newRow("idle time passed") << QList<int>{} << QList<int>{} << 16 << false;
    QTest::newRow("a key press puts it off") << QList<int>{10} << QList<int>{} << 24 << true;
    QTest::newRow("idle time after the last key press")
        << QList<int>{10} << QList<int>{} << 26 << false;
    QTest::newRow("mouse clicks put it off") << QList<int>{} << QList<int>{10, 24} << 38 << true;
    QTest::newRow("idle time after the last click")
        << QList<int>{} << QList<int>{10, 24} << 40 << false;
}

// Catches: an indicator that goes on showing someone signed out after the idle time, input that
// does not reach the idle sign-out, or an indicator shown while access control is off.
void TestUsersUi::signInStatus()
{
    QFETCH(QList<int>, keysAtMinutes);
    QFETCH(QList<int>, clicksAtMinutes);
    QFETCH(int, checkAtMinutes);
    QFETCH(bool, signedIn);

    qint64 now = 1'000'000;
    DeskSession desk([&now] { return now; });
    QString error;
    QVERIFY2(desk.open(&error), qPrintable(error));
    QWidget window;
    auto* status = new SignInStatus(&desk.session, &window);
    auto* elsewhere = new QPushButton(QStringLiteral("elsewhere"), &window);
    elsewhere->move(0, 40);
    window.show();
    QVERIFY(!status->isVisible());

    QVERIFY2(desk.add(DeskSession::team(), &error), qPrintable(error));
    QVERIFY(status->isVisible());
    QCOMPARE(status->label()->text(), QStringLiteral("Not signed in"));
    QCOMPARE(status->button()->text(), QStringLiteral("Sign in"));
    // "Sign in" asks for the sign-in, here answered by Sam.
    int asked = 0;
    status->setAsk([&](SignInSession* session, QWidget*) {
        ++asked;
        QCOMPARE(session, &desk.session);
        QVERIFY(desk.signIn(QStringLiteral("sam"), DeskSession::SupervisorPassword));
    });
    QTest::mouseClick(status->button(), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QCOMPARE(status->label()->text(), QStringLiteral("Signed in: sam (Supervisor)"));
    QCOMPARE(status->button()->text(), QStringLiteral("Sign out"));

    const qint64 start = now;
    for (int minute = 0; minute <= checkAtMinutes; ++minute) {
        now = start + qint64(minute) * 60'000;
        if (keysAtMinutes.contains(minute))
            QTest::keyClick(elsewhere, Qt::Key_A);
        if (clicksAtMinutes.contains(minute))
            QTest::mouseClick(elsewhere, Qt::LeftButton);
        desk.session.idle()->poll();
    }
    QCOMPARE(bool(desk.session.user()), signedIn);
    QCOMPARE(status->label()->text(), signedIn ? QStringLiteral("Signed in: sam (Supervisor)")
                                               : QStringLiteral("Not signed in"));
    // Why nobody is signed in any more, in the tool tip.
    QCOMPARE(status->label()->toolTip().startsWith(QStringLiteral("Signed out after 15 min")),
             !signedIn);
    if (!signedIn) {
        QTRY_COMPARE_WITH_TIMEOUT(desk.trail().constLast().newValue,
                                  SignInSession::causeText(SignInSession::SignOutCause::Idle),
                                  10000);
        return;
    }
    // "Sign out" by hand: recorded as the user's.
    QTest::mouseClick(status->button(), Qt::LeftButton);
    QCOMPARE(status->label()->text(), QStringLiteral("Not signed in"));
    QTRY_COMPARE_WITH_TIMEOUT(desk.trail().constLast().newValue,
                              SignInSession::causeText(SignInSession::SignOutCause::User), 10000);
}

QTEST_MAIN(TestUsersUi)
#include "tst_usersui.moc"
