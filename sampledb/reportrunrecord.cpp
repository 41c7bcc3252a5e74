#include "reportrunrecord.h"

QString ReportRunRecord::key() const
{
    return kind + QLatin1Char('.') + first.toString(Qt::ISODate);
}

QString ReportRunRecord::problem() const
{
    static const QStringList kinds = {QStringLiteral("daily"), QStringLiteral("weekly"),
                                      QStringLiteral("monthly")};
    if (!kinds.contains(kind))
        return QStringLiteral("unknown report kind");
    if (!first.isValid() || !last.isValid() || last < first || first.daysTo(last) > 31)
        return QStringLiteral("period out of bounds");
    if (state != stateMade() && state != stateSent() && state != stateFailed() &&
        state != stateTooLarge())
        return QStringLiteral("unknown state");
    if (dueMs <= 0 || madeMs < 0 || attempts < 0 || error.size() > MaxErrorLength)
        return QStringLiteral("times, attempts or error out of bounds");
    return QString();
}
