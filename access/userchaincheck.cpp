#include "userchaincheck.h"

#include "accesspolicy.h"
#include "userdirectory.h"
#include "usertable.h"

#include <QSet>

const QStringList& UserChainCheck::userActions()
{
    static const QStringList actions{actionAdded(),
                                     QStringLiteral("user disabled"),
                                     QStringLiteral("user enabled"),
                                     QStringLiteral("password reset"),
                                     QStringLiteral("role changed"),
                                     QStringLiteral("signed in"),
                                     QStringLiteral("sign-in failed"),
                                     QStringLiteral("sign-in waits"),
                                     QStringLiteral("signature refused"),
                                     actionRecovered()};
    return actions;
}

QString UserChainCheck::shownName(const QString& name)
{
    // A row written by another program may carry anything: cut and with its invisible
    // characters spelled out, it cannot forge a line of a report or hide its end.
    QString shown;
    for (const QChar c : name.left(UserDirectory::MaximumNameLength + 1)) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph ||
            category == QChar::Other_NotAssigned || c.isSurrogate())
            shown += QStringLiteral("\\u{%1}").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool UserChainCheck::load(SqliteHandle db, QString* error)
{
    on = false;
    rows.clear();
    lastDigest.clear();
    trailName.clear();
    QVector<AuditEntry> entries;
    QVector<AuditEntry> additions;
    if (!UserTable::list(db, &rows, error) ||
        !UserTable::entriesOf(db, userActions(), UserTable::Which::NewestDigestPerUser, &entries,
                              error) ||
        !UserTable::entriesOf(db, {actionAdded(), actionRecovered()}, UserTable::Which::All,
                              &additions, error))
        return false;
    const QString administrator = AccessPolicy::roleText(AccessPolicy::Role::Administrator);
    for (const AuditEntry& e : entries) {
        QByteArray digest;
        if (!UserTable::digestIn(e, &digest))
            continue;
        const QString key = e.object.toLower();
        lastDigest.insert(key, digest);
        trailName.insert(key, e.object);
    }
    for (const AuditEntry& e : additions)
        on = on || UserTable::describedValue(e) == administrator;
    return true;
}

QString UserChainCheck::findingFor(const UserRecord& row) const
{
    const auto digest = lastDigest.constFind(row.name.toLower());
    if (digest == lastDigest.cend())
        return QStringLiteral("User \"%1\" is in the users table but not in the audit trail: "
                              "the row was added outside the programs.")
            .arg(shownName(row.name));
    if (*digest != UserTable::rowDigest(row))
        return QStringLiteral("User \"%1\" does not match the audit trail: the row was changed "
                              "outside the programs.")
            .arg(shownName(row.name));
    return QString();
}

QStringList UserChainCheck::findings() const
{
    QStringList out;
    QSet<QString> present;
    for (const UserRecord& row : rows) {
        present.insert(row.name.toLower());
        const QString finding = findingFor(row);
        if (!finding.isEmpty())
            out << finding;
    }
    if (on && rows.isEmpty())
        out << QStringLiteral("The users table is empty although access control is on.");
    QStringList missing;
    for (auto it = trailName.cbegin(); it != trailName.cend(); ++it) {
        if (!present.contains(it.key()))
            missing << QStringLiteral("User \"%1\" is in the audit trail but missing from the "
                                      "users table.")
                           .arg(shownName(it.value()));
    }
    missing.sort();
    return out + missing;
}

QStringList UserChainCheck::check(SqliteHandle db)
{
    UserChainCheck c;
    QString error;
    if (!c.load(db, &error))
        return {QStringLiteral("The users or the audit trail could not be read: %1").arg(error)};
    return c.findings();
}
