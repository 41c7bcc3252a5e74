#include "userchangesignature.h"

#include "auditentry.h"
#include "audittrail.h"
#include "signedrecord.h"

#include <QVector>

SignedRecord UserChangeSignature::record(const AuditEntry& entry)
{
    SignedRecord r;
    r.kind = recordKind();
    r.id = QString::number(entry.sequence);
    r.add(QStringLiteral("user"), entry.user);
    r.add(QStringLiteral("action"), entry.action);
    r.add(QStringLiteral("object"), entry.object);
    r.add(QStringLiteral("newValue"), entry.newValue);
    r.add(QStringLiteral("reason"), entry.reason);
    return r;
}

QString UserChangeSignature::signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields)
{
    bool ok = false;
    const qint64 sequence = signedFields.id.toLongLong(&ok);
    if (!ok || sequence <= 0)
        return QStringLiteral("its user change \"%1\" is not an audit entry's sequence")
            .arg(signedFields.id.left(80));
    QVector<AuditEntry> entries;
    QString error;
    if (!AuditTrail::read(db, sequence, sequence, &entries, &error))
        return QStringLiteral("the audit trail could not be read: ") + error;
    if (entries.size() != 1 || entries.first().sequence != sequence)
        return QStringLiteral("its user change, audit entry %1, is missing").arg(sequence);
    const SignedRecord now = record(entries.first());
    if (signedFields.fields.size() != now.fields.size())
        return QStringLiteral("its user change has %1 fields signed, not %2")
            .arg(signedFields.fields.size())
            .arg(now.fields.size());
    for (int i = 0; i < now.fields.size(); ++i) {
        const auto& was = signedFields.fields.at(i);
        const auto& is = now.fields.at(i);
        if (was.first != is.first || was.second != is.second)
            return QStringLiteral("its user change, audit entry %1, has %2 \"%3\", signed as "
                                  "\"%4\"")
                .arg(sequence)
                .arg(is.first, is.second.left(80), was.second.left(80));
    }
    return QString();
}
