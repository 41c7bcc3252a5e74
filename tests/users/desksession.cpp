#include "desksession.h"

#include "audittrail.h"
#include "sqliteconnection.h"
#include "usertable.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

const QByteArray DeskSession::AdminPassword = "admin-password-1";
const QByteArray DeskSession::SupervisorPassword = "supervisor-password-2";
const QByteArray DeskSession::OperatorPassword = "operator-password-3";

QVector<DeskSession::Person> DeskSession::team()
{
    return {{QStringLiteral("anna"), AccessPolicy::Role::Administrator, AdminPassword},
            {QStringLiteral("sam"), AccessPolicy::Role::Supervisor, SupervisorPassword},
            {QStringLiteral("olga"), AccessPolicy::Role::Operator, OperatorPassword}};
}

DeskSession::DeskSession(const IdleSignOut::Clock& idleClock)
    : m_dir(std::make_unique<QTemporaryDir>()),
      m_database(m_dir->filePath(QStringLiteral("project.dat"))), session(idleClock)
{
    session.setCost(PasswordHash::least());
}

DeskSession::~DeskSession() = default;

bool DeskSession::open(QString* error)
{
    QFile file(m_database);
    if (!m_dir->isValid() || !file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("no temporary database");
        return false;
    }
    file.close();
    QSignalSpy opened(&session, &SignInSession::opened);
    session.open(m_database);
    if (!opened.wait(10000)) {
        *error = QStringLiteral("the session did not open");
        return false;
    }
    *error = opened.at(0).at(1).toString();
    return opened.at(0).at(0).toBool();
}

bool DeskSession::add(const QVector<Person>& people, QString* error)
{
    bool done = false;
    bool result = false;
    session.run(
        [people](UserDirectory& users, QString* e) {
            for (const Person& p : people) {
                if (!users.add(QStringLiteral("desk"), p.name, p.role, p.password,
                               QStringLiteral("set up"), e))
                    return false;
                if (p.disabled && !users.setDisabled(QStringLiteral("desk"), p.name, true,
                                                     QStringLiteral("set up"), e))
                    return false;
            }
            return true;
        },
        [&](bool ok, const QString& e) {
            done = true;
            result = ok;
            *error = e;
        });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        *error = QStringLiteral("no answer");
    return result;
}

bool DeskSession::signIn(const QString& name, const QByteArray& password)
{
    QSignalSpy finished(&session, &SignInSession::signInFinished);
    session.signIn(name, password);
    return finished.wait(10000);
}

QVector<AuditEntry> DeskSession::trail() const
{
    SqliteConnection connection;
    QString error;
    QVector<AuditEntry> entries;
    if (!UserTable::open(&connection, m_database, 5000, &error) ||
        !AuditTrail::read(connection.get(), 1, std::numeric_limits<qint64>::max(), &entries,
                          &error))
        qWarning("%s", qPrintable(error));
    return entries;
}
