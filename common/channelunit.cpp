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
