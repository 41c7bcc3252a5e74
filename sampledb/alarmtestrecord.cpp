#include "alarmtestrecord.h"

QString AlarmTestRecord::problem() const
{
    if (testId <= 0 || time <= 0)
        return QStringLiteral("The test has no id or time.");
    if (user.trimmed().isEmpty() || target.trimmed().isEmpty())
        return QStringLiteral("The test names no user or target.");
    if (answer != acceptedAnswer() && answer != refusedAnswer() && answer != noAnswer())
        return QStringLiteral("\"%1\" is not an answer of a test.").arg(answer.left(40));
    if (text.size() > MaxText || nodes.size() > MaxNodes || user.size() > MaxText ||
        target.size() > MaxText)
        return QStringLiteral("A text of the test is too long.");
    if (signatureId < 0)
        return QStringLiteral("The test's signature id is negative.");
    return QString();
}
