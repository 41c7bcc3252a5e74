#include "reportaudithead.h"

#include "auditentry.h"
#include "samplereader.h"

#include <optional>

namespace {

// A hash altered by hand may be anything: what is printed of it stays within one line.
constexpr int PrintedHashLength = 128;

} // namespace

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
        QString hash = QString::fromUtf8(m_hash.left(PrintedHashLength));
        hash.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        return QStringLiteral("Audit trail head: entry %1, SHA-256 %2").arg(m_sequence).arg(hash);
    }
    case State::Unreadable:
        return QStringLiteral("Audit trail head: could not be read (%1)").arg(m_error);
    }
    return QStringLiteral("Audit trail head: not read");
}

QString ReportAuditHead::readAtText() const
{
    return m_readAt.isValid() ? m_readAt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString();
}
