#pragma once

// The out-of-range rule of a channel, one for the node's flag (tiles and charts), the alarms,
// the viewer and the reports. Values are measured, shown and stored with two decimals, while
// the limits are kept in single precision (the project file's "18.10" becomes 18.1000004): the
// rule compares both in hundredths, so that a value equal to a limit as shown is inside.
//
// Equal limits switch the range off. A minimum above the maximum leaves no value inside: each
// is high when above the maximum, else low. No value (NoValue) is never out of range.
class RangeRule
{
public:
    enum class State
    {
        Inside,
        High,
        Low
    };

    // No limits: nothing is out of range.
    RangeRule() = default;
    // `deadband`: how far back inside the range a value must come to end an excursion.
    RangeRule(double min, double max, double deadband = 0);

    bool isEnabled() const { return m_min != m_max; }
    // The limits as given (what an alarm event records as its limit).
    double min() const { return m_min; }
    double max() const { return m_max; }
    double deadband() const { return m_deadband; }

    // High is checked before low.
    State stateOf(double value) const;
    bool isOutside(double value) const { return stateOf(value) != State::Inside; }
    // Whether a value ends an excursion beyond the limit `excursion` names (High or Low): it is
    // back inside the range by at least the deadband. A value beyond either limit, and no value,
    // end none (the caller judges a missing value).
    bool ends(State excursion, double value) const;

private:
    double m_min = 0;
    double m_max = 0;
    double m_deadband = 0;
    // The limits and the deadband in hundredths.
    double m_minCenti = 0;
    double m_maxCenti = 0;
    double m_deadbandCenti = 0;
};
