#pragma once

class QString;

// Unit of one sensor channel, stored in the project file as its number.
enum ChannelUnit
{
    Undefined = 0,
    TemperatureC = 1,
    TemperatureF = 2,
    Humidity = 3,
    Custom = 4,
};

// The stored text of a unit code; anything that is not a number from 0 to 4 is Undefined.
ChannelUnit channelUnitFromText(const QString& text);
ChannelUnit channelUnitFromInt(int code);
// The unit as the programs show it beside a value: "°C", "°F", "%RH", the custom text, or
// nothing.
QString channelUnitText(ChannelUnit unit, const QString& customText);
// The unit as the report names it beside a channel: "Undefined", "Temperature(°C)",
// "Temperature(°F)", "Humidity(%)", or the custom text.
QString channelUnitName(ChannelUnit unit, const QString& customText);
