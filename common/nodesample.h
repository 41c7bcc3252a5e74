#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// One node's values from one poll, as numbers once they leave the gateway: the display, the
// recording, the alarms and the forwarding all take this, and none reads a text back.
struct NodeSample
{
    // The moment the poll's read request went to the gateway (UTC).
    QDateTime time;
    // Each channel as the number of its two-decimal text ("21.50" gives 21.5); none when the
    // gateway served no finite value.
    std::optional<double> channel1;
    std::optional<double> channel2;
    // None when the gateway's model reports no link quality or battery, or when the registers
    // that would hold them belong to another node or lie outside the block.
    std::optional<int> linkQuality;
    std::optional<int> battery;
    // A refresh poll's sample: shown, never stored.
    bool refresh = false;

    // A channel as the gateway's decoding gives it: fixed notation with two decimals, empty for
    // no value. From the number it is the same text the decoding made.
    static QString channelText(const std::optional<double>& value);
    // Link quality or battery as text: the decimal integer, "-1" for none.
    static QString levelText(const std::optional<int>& value);
    // The number of a channel text of two decimals; none for an empty text or one that is no
    // finite number.
    static std::optional<double> channelNumber(const QString& text);
    // The integer of a link quality or battery text; none for "-1" or a text that is no integer.
    static std::optional<int> levelNumber(const QString& text);
};
