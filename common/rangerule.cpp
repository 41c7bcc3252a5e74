#include "rangerule.h"

#include "novalue.h"

#include <cmath>

namespace {

// A number in hundredths, rounded to the nearest. Kept in a double: no range of values the
// sensors, a corrupted row or a limit can bring overflows it, and the order of values is kept.
double centi(double value)
{
    return std::round(value * 100.0);
}

} // namespace

RangeRule::RangeRule(double min, double max, double deadband)
    : m_min(min), m_max(max), m_deadband(deadband), m_minCenti(centi(min)), m_maxCenti(centi(max)),
      m_deadbandCenti(centi(deadband))
{
}

RangeRule::State RangeRule::stateOf(double value) const
{
    if (!isEnabled() || value == NoValue)
        return State::Inside;
    const double v = centi(value);
    if (v > m_maxCenti)
        return State::High;
    if (v < m_minCenti)
        return State::Low;
    return State::Inside;
}

bool RangeRule::ends(State excursion, double value) const
{
    if (value == NoValue || stateOf(value) != State::Inside)
        return false;
    const double v = centi(value);
    switch (excursion) {
    case State::High:
        return v <= m_maxCenti - m_deadbandCenti;
    case State::Low:
        return v >= m_minCenti + m_deadbandCenti;
    case State::Inside:
        break;
    }
    return true;
}
