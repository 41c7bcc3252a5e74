#include "userscommand.h"

#include "accesspolicy.h"
#include "passwordhash.h"
#include "passwordprompt.h"
#include "projectfile.h"
#include "sqliteconnection.h"
#include "userchaincheck.h"
#include "userdirectory.h"
#include "usertable.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

#include <memory>
#include <optional>

#include <pwd.h>
#include <unistd.h>

namespace {

using Role = AccessPolicy::Role;

constexpr int Done = 0;
constexpr int Refused = 1;
constexpr int Usage = 2;
constexpr int BusyTimeoutMs = 5000;
constexpr int MaximumReasonLength = 500;

const char* const UsageText =
    "Usage: QuillmarLiteModbus --users PROJECT.tpc [MORE.tpc...] VERB [--as NAME] [--reason "
    "TEXT]\n"
    "Verbs:\n"
    "  add NAME ROLE     add a user (ROLE: Operator, Supervisor or Administrator);\n"
    "                    --full-name TEXT gives the person's full name, which signatures show\n"
    "  disable NAME      disable a user (users are never deleted)\n"
    "  enable NAME       enable a disabled user\n"
    "  reset NAME        set a new password\n"
    "  role NAME ROLE    change a user's role\n"
    "  list              list the users\n"
    "  recover NAME      make NAME an Administrator with a new password, for the computer\n"
    "                    account that owns the project's files, when no Administrator can sign in\n"
    "--as NAME signs in as that Administrator; needed once access control is on.\n"
    "Passwords are read from the terminal without echo, or one per line from the standard "
    "input:\n"
    "the Administrator's first, then the new one. They are never given as arguments.\n";

struct Project
{
    QString path;
    SqliteConnection connection;
    std::unique_ptr<UserDirectory> users;
    bool accessControl = false;
    QString actor;
};

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

QString computerAccount()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name)
                                   : QStringLiteral("uid %1").arg(::getuid());
}

// Both files belong to the account running the command.
bool ownedByCaller(const Project& p, QString* error)
{
    for (const QString& path : {p.path, ProjectFile::databasePath(p.path)}) {
        if (QFileInfo(path).ownerId() != ::getuid()) {
            *error = QStringLiteral("%1 does not belong to the computer account %2.")
                         .arg(path, computerAccount());
            return false;
        }
    }
    return true;
}

bool textProblem(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

struct Request
{
    QStringList projects;
    QString verb;
    QString name;
    QString roleText;
    QString as;
    QString reason;
    QString fullName;
    bool fullNameGiven = false;
};

// False with the message for the usage error.
bool parse(const QStringList& arguments, Request* r, QString* error)
{
    static const QStringList verbs{QStringLiteral("add"),    QStringLiteral("disable"),
                                   QStringLiteral("enable"), QStringLiteral("reset"),
                                   QStringLiteral("role"),   QStringLiteral("list"),
                                   QStringLiteral("recover")};
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--as") || a == QLatin1String("--reason")) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value.").arg(a);
                return false;
            }
            (a == QLatin1String("--as") ? r->as : r->reason) = arguments.at(++i);
        } else if (a == QLatin1String("--full-name")) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value.").arg(a);
                return false;
            }
            r->fullName = arguments.at(++i);
            r->fullNameGiven = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("Unknown option %1.").arg(a);
            return false;
        } else if (r->verb.isEmpty() && verbs.contains(a)) {
            r->verb = a;
        } else if (r->verb.isEmpty()) {
            r->projects << a;
        } else {
            words << a;
        }
    }
    if (r->projects.isEmpty() || r->verb.isEmpty()) {
        *error = QStringLiteral("A project and a verb are needed.");
        return false;
    }
    const int needed = r->verb == QLatin1String("list")                                        ? 0
                       : (r->verb == QLatin1String("add") || r->verb == QLatin1String("role")) ? 2
                                                                                               : 1;
    if (words.size() != needed) {
        *error = QStringLiteral("%1 takes %2 word(s) after it.").arg(r->verb).arg(needed);
        return false;
    }
    if (r->fullNameGiven && r->verb != QLatin1String("add")) {
        *error = QStringLiteral("--full-name goes with add.");
        return false;
    }
    const QString fullNameProblem = UserDirectory::fullNameProblem(r->fullName);
    if (!fullNameProblem.isEmpty()) {
        *error = fullNameProblem;
        return false;
    }
    if (needed > 0)
        r->name = words.at(0);
    if (needed > 1)
        r->roleText = words.at(1);
    if (r->reason.size() > MaximumReasonLength || textProblem(r->reason)) {
        *error = QStringLiteral("The reason has at most %1 characters and no control characters.")
                     .arg(MaximumReasonLength);
        return false;
    }
    return true;
}

bool openProject(Project* p, QString* error)
{
    const QString database = ProjectFile::databasePath(p->path);
    if (!QFileInfo(p->path).isFile() || !QFileInfo(database).isFile()) {
        *error = QStringLiteral("%1: no project file with its database beside it.").arg(p->path);
        return false;
    }
    QString reason;
    if (!UserTable::open(&p->connection, database, BusyTimeoutMs, &reason)) {
        *error = QStringLiteral("%1: the database cannot be opened: %2").arg(p->path, reason);
        return false;
    }
    p->users = std::make_unique<UserDirectory>(p->connection.get());
    if (!p->users->accessControlOn(&p->accessControl, &reason)) {
        *error = QStringLiteral("%1: the users cannot be read: %2").arg(p->path, reason);
        return false;
    }
    return true;
}

// Reads a new password, twice from a terminal.
bool newPassword(const QString& name, QByteArray* password)
{
    if (!PasswordPrompt::read(QStringLiteral("New password for %1: ").arg(name), password)) {
        err() << "No new password was given.\n";
        return false;
    }
    if (PasswordPrompt::fromTerminal()) {
        QByteArray again;
        PasswordPrompt::read(QStringLiteral("The new password again: "), &again);
        const bool same = again == *password;
        PasswordHash::wipe(&again);
        if (!same) {
            err() << "The two passwords differ.\n";
            return false;
        }
    }
    const QString problem = PasswordHash::problem(*password);
    if (!problem.isEmpty()) {
        err() << problem << '\n';
        return false;
    }
    return true;
}

QString localTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void list(Project* p)
{
    QVector<UserRecord> rows;
    QString error;
    out() << p->path << ":\n";
    if (!p->users->users(&rows, &error)) {
        out() << "  the users cannot be read: " << error << '\n';
        return;
    }
    if (!p->accessControl)
        out() << "  access control is off\n";
    for (const UserRecord& r : rows) {
        out() << "  " << r.name << '\t' << r.role << '\t' << (r.disabled ? "disabled" : "enabled");
        if (!r.fullName.isEmpty())
            out() << '\t' << r.fullName;
        if (r.waitUntilMs > QDateTime::currentMSecsSinceEpoch())
            out() << "\twaiting until " << localTimeText(r.waitUntilMs);
        out() << '\n';
    }
    for (const QString& finding : UserChainCheck::check(p->connection.get()))
        out() << "  warning: " << finding << '\n';
}

bool change(const Request& r, Project* p, const QByteArray& password, QString* error)
{
    UserDirectory& users = *p->users;
    const std::optional<Role> role = AccessPolicy::roleFromText(r.roleText);
    if (r.verb == QLatin1String("add"))
        return users.add(p->actor, r.name, *role, password, r.reason, error, r.fullName);
    if (r.verb == QLatin1String("disable") || r.verb == QLatin1String("enable"))
        return users.setDisabled(p->actor, r.name, r.verb == QLatin1String("disable"), r.reason,
                                 error);
    if (r.verb == QLatin1String("reset"))
        return users.resetPassword(p->actor, r.name, password, r.reason, error);
    if (r.verb == QLatin1String("role"))
        return users.changeRole(p->actor, r.name, *role, r.reason, error);
    return users.recover(p->actor, r.name, password, r.reason, error);
}

} // namespace

int UsersCommand::run(const QStringList& arguments)
{
    Request request;
    QString error;
    if (!parse(arguments, &request, &error)) {
        err() << error << '\n' << UsageText;
        return Usage;
    }
    if (!request.roleText.isEmpty() && !AccessPolicy::roleFromText(request.roleText)) {
        err() << "Unknown role " << request.roleText
              << ": Operator, Supervisor or Administrator.\n";
        return Usage;
    }
    const bool recovering = request.verb == QLatin1String("recover");
    const bool changing = request.verb != QLatin1String("list");
    if (recovering && request.reason.trimmed().isEmpty()) {
        err() << "A recovery needs a reason: --reason TEXT.\n";
        return Usage;
    }

    std::vector<std::unique_ptr<Project>> projects;
    for (const QString& path : request.projects) {
        auto p = std::make_unique<Project>();
        p->path = path;
        p->actor = computerAccount();
        if (!openProject(p.get(), &error) || (recovering && !ownedByCaller(*p, &error))) {
            err() << error << '\n';
            return Refused;
        }
        projects.push_back(std::move(p));
    }

    // Every project accepts the sign-in (or needs none) before any is changed.
    bool signInNeeded = false;
    for (const auto& p : projects) {
        if (p->accessControl && !recovering)
            signInNeeded = true;
        else if (!p->accessControl && changing && !recovering &&
                 !(request.verb == QLatin1String("add") &&
                   AccessPolicy::roleFromText(request.roleText) == Role::Administrator)) {
            err() << p->path << ": access control is off; add an Administrator first.\n";
            return Refused;
        }
    }
    if (signInNeeded) {
        if (request.as.isEmpty()) {
            err() << "Access control is on: sign in as an Administrator with --as NAME.\n";
            return Usage;
        }
        if (changing && request.reason.trimmed().isEmpty()) {
            err() << "Under access control a change needs a reason: --reason TEXT.\n";
            return Usage;
        }
        QByteArray password;
        if (!PasswordPrompt::read(QStringLiteral("Password of %1: ").arg(request.as), &password)) {
            err() << "No password was given.\n";
            return Refused;
        }
        bool allSigned = true;
        for (const auto& p : projects) {
            if (!p->accessControl)
                continue;
            const UserDirectory::SignInResult result = p->users->signIn(request.as, password);
            if (result.outcome != UserDirectory::SignInResult::SignedIn) {
                err() << p->path << ": " << result.message << '\n';
                allSigned = false;
            } else if (!AccessPolicy::allows(result.role, AccessPolicy::Action::ManageUsers)) {
                err() << p->path << ": " << request.as << " is not an Administrator.\n";
                allSigned = false;
            }
            p->actor = request.as;
        }
        PasswordHash::wipe(&password);
        if (!allSigned)
            return Refused;
    }

    if (!changing) {
        for (const auto& p : projects)
            list(p.get());
        return Done;
    }

    QByteArray password;
    const bool needsPassword = request.verb == QLatin1String("add") ||
                               request.verb == QLatin1String("reset") || recovering;
    if (needsPassword && !newPassword(request.name, &password)) {
        PasswordHash::wipe(&password);
        return Refused;
    }
    int status = Done;
    for (const auto& p : projects) {
        if (change(request, p.get(), password, &error)) {
            out() << p->path << ": " << request.verb << ' ' << request.name << ": done\n";
        } else {
            err() << p->path << ": " << error << '\n';
            status = Refused;
        }
    }
    PasswordHash::wipe(&password);
    return status;
}
