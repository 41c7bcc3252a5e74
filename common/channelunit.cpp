#include "channelunit.h"

#include <QString>

ChannelUnit channelUnitFromInt(int code)
{
    return (code >= Undefined && code <= Custom) ? static_cast<ChannelUnit>(code) : Undefined;
}

ChannelUnit channelUnitFromText(const QString& text)
{
    bool ok = false;
    const int code = text.toInt(&ok, 10);
    return ok ? channelUnitFromInt(code) : Undefined;
}

QString channelUnitText(ChannelUnit unit, const QString& customText)
{
    switch (unit) {
    case TemperatureC:
        return QStringLiteral("\u00B0") + QStringLiteral("C");
    case TemperatureF:
        return QStringLiteral("\u00B0") + QStringLiteral("F");
    case Humidity:
        return QStringLiteral("%RH");
    case Custom:
        return customText;
    default:
        return QString();
    }
}

QString channelUnitName(ChannelUnit unit, const QString& customText)
{
    switch (unit) {
    case TemperatureC:
        return QStringLiteral("Temperature(\u00B0C)");
    case TemperatureF:
        return QStringLiteral("Temperature(\u00B0F)");
    case Humidity:
        return QStringLiteral("Humidity(%)");
    case Custom:
        return customText;
    default:
        return QStringLiteral("Undefined");
    }
}
