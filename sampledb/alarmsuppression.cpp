#include "alarmsuppression.h"

QString AlarmSuppression::kindText(Kind kind)
{
    return kind == Kind::Shelve ? QStringLiteral("shelve") : QStringLiteral("out of service");
}

std::optional<AlarmSuppression::Kind> AlarmSuppression::kindFromText(const QString& text)
{
    if (text == kindText(Kind::Shelve))
        return Kind::Shelve;
    if (text == kindText(Kind::OutOfService))
        return Kind::OutOfService;
    return std::nullopt;
}
