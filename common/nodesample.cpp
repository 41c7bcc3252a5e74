#include "nodesample.h"

#include <cmath>

QString NodeSample::channelText(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 2) : QString();
}

QString NodeSample::levelText(const std::optional<int>& value)
{
    return value ? QString::number(*value) : QStringLiteral("-1");
}

std::optional<double> NodeSample::channelNumber(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> NodeSample::levelNumber(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || text == QLatin1String("-1"))
        return std::nullopt;
    return value;
}
