#include "reportaudithead.h"

#include "auditentry.h"
#include "audittrail.h"
#include "samplereader.h"

#include <optional>

ReportAuditHead ReportAuditHead::read(const QString& databasePath)
{
    ReportAuditHead head;
    SampleReader reader(databasePath);
    std::optional<AuditEntry> entry;
    if (!reader.auditHead(&entry)) {
        head.m_state = State::Unreadable;
        head.m_error = reader.errorText();
    } else if (entry) {
        head.m_state = State::Present;
        head.m_sequence = entry->sequence;
        head.m_hash = entry->hash;
    } else {
        head.m_state = State::None;
    }
    head.m_readAt = QDateTime::currentDateTime();
    return head;
}

QString ReportAuditHead::line() const
{
    switch (m_state) {
    case State::NotRead:
        break;
    case State::None:
        return QStringLiteral("Audit trail head: none");
    case State::Present: {
        AuditEntry head;
        head.sequence = m_sequence;
        head.hash = m_hash;
        return AuditTrail::headLine(head);
    }
    case State::Unreadable:
        return QStringLiteral("Audit trail head: could not be read (%1)").arg(m_error);
    }
    return QStringLiteral("Audit trail head: not read");
}

QString ReportAuditHead::readAtText() const
{
    return m_readAt.isValid() ? m_readAt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                              : QString();
}
