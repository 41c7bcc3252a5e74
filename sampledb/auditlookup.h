#pragma once

#include "auditentry.h"

#include <QString>
#include <QStringList>

#include <optional>

// Finds entries of a project's audit trail by what was done, for the recorder to learn at the
// start what its last run left: the settings it last accepted, whether a recording was running.
class AuditLookup
{
public:
    // The newest entry before sequence `before` whose action is one of `actions`, read on a
    // read-only connection of its own; nullopt when there is none (or no database or trail
    // yet). False only on errors.
    static bool latest(const QString& databasePath, const QStringList& actions, qint64 before,
                       std::optional<AuditEntry>* found, QString* error);
};
