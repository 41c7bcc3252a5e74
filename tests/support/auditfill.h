#pragma once

#include "auditentry.h"

#include <QString>
#include <QVector>

// Audit trail entries for a test: made from their texts, and appended to a database file on a
// connection of the test's own, in one immediate transaction, as another program's append would
// be (the recorder may hold the file meanwhile: it waits up to five seconds for it).
namespace AuditFill {

AuditEntry entry(qint64 timeMs, const QString& user, const QString& action, const QString& object,
                 const QString& oldValue = QString(), const QString& newValue = QString(),
                 const QString& reason = QString());

// Sequences and hashes are set by the append; false with the reason on failure.
bool append(const QString& database, const QVector<AuditEntry>& entries, QString* error);

} // namespace AuditFill
