#include "forwardstatus.h"

bool ForwardStatus::operator==(const ForwardStatus& other) const
{
    return state == other.state && lastError == other.lastError && inFlight == other.inFlight &&
           waiting == other.waiting && refused == other.refused && attempts == other.attempts;
}

QString ForwardStatus::stateText(State state)
{
    switch (state) {
    case State::Off:
        return QStringLiteral("off");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Connected:
        return QStringLiteral("connected");
    case State::Failing:
        return QStringLiteral("failing");
    }
    return QString();
}

QString ForwardStatus::refusedText(const QString& targetName, qint64 refused)
{
    if (refused <= 0)
        return QString();
    return QStringLiteral("%1 refused %2 records").arg(targetName).arg(refused);
}
