#include "meankinetictemperature.h"

#include <cmath>
#include <limits>

std::optional<MeanKineticTemperature::Scale> MeanKineticTemperature::scaleOf(ChannelUnit unit)
{
    switch (unit) {
    case TemperatureC:
        return Scale::Celsius;
    case TemperatureF:
        return Scale::Fahrenheit;
    case Undefined:
    case Humidity:
    case Custom:
        break;
    }
    return std::nullopt;
}

bool MeanKineticTemperature::acceptsActivationEnergy(double kiloJoulePerMole)
{
    return std::isfinite(kiloJoulePerMole) && kiloJoulePerMole >= LowestActivationEnergy &&
           kiloJoulePerMole <= HighestActivationEnergy;
}

MeanKineticTemperature::MeanKineticTemperature(Scale scale, double activationEnergy)
    : m_scale(scale),
      m_ratio(
          (acceptsActivationEnergy(activationEnergy) ? activationEnergy : DefaultActivationEnergy) /
          GasConstant)
{
}

double MeanKineticTemperature::toKelvin(double value) const
{
    return m_scale == Scale::Celsius ? value + 273.15 : (value - 32.0) * 5.0 / 9.0 + 273.15;
}

double MeanKineticTemperature::fromKelvin(double kelvin) const
{
    return m_scale == Scale::Celsius ? kelvin - 273.15 : (kelvin - 273.15) * 9.0 / 5.0 + 32.0;
}

double MeanKineticTemperature::term(double value) const
{
    const double kelvin = toKelvin(value);
    if (!std::isfinite(kelvin) || kelvin <= 0)
        return 0;
    return std::exp(-m_ratio / kelvin);
}

void MeanKineticTemperature::add(double value, double seconds)
{
    const double t = term(value);
    if (t > 0 && seconds > 0 && std::isfinite(seconds))
        addSums(seconds * t, seconds);
}

void MeanKineticTemperature::addSums(double weightedTerms, double seconds)
{
    if (!(seconds > 0) || !(weightedTerms >= 0) || !std::isfinite(seconds) ||
        !std::isfinite(weightedTerms))
        return;
    m_weighted += weightedTerms;
    m_seconds += seconds;
}

void MeanKineticTemperature::merge(const MeanKineticTemperature& other)
{
    addSums(other.m_weighted, other.m_seconds);
}

double MeanKineticTemperature::value() const
{
    if (isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    return fromKelvin(m_ratio / -std::log(m_weighted / m_seconds));
}
