#pragma once

#include <QString>

// How one channel value of a simulated node moves over time. Written as text on the command
// line, in the configuration file and in stdin commands:
//   21.5 | nan | inf | -inf          constant
//   ramp:START,STEP,LOW,HIGH         START, then STEP per second, wrapping within [LOW, HIGH)
//   sine:OFFSET,AMPLITUDE,PERIOD     OFFSET + AMPLITUDE * sin(2 pi t / PERIOD), PERIOD in seconds
//   pulse:BASE,PEAK,PERIOD,DURATION  PEAK for the first DURATION seconds of every PERIOD, else
//                                    BASE (a door left open, a defrost: an excursion that lasts)
// Time is counted from the moment the pattern was set, so a new ramp starts at its START.
class ValuePattern
{
public:
    enum class Kind
    {
        Constant,
        Ramp,
        Sine,
        Pulse
    };

    ValuePattern() = default;
    static ValuePattern constant(double value);

    // Returns false (and leaves *pattern alone) when the text is not a valid pattern.
    static bool parse(const QString& text, ValuePattern* pattern, QString* error);

    // Value at the given time, in seconds on the simulator's clock.
    double valueAt(double seconds) const;
    // Makes the pattern's own time begin at the given moment.
    void setOrigin(double seconds) { m_origin = seconds; }

    Kind kind() const { return m_kind; }
    QString toString() const;

private:
    Kind m_kind = Kind::Constant;
    double m_a = 0; // constant value, ramp start, sine offset or pulse base
    double m_b = 0; // ramp step, sine amplitude or pulse peak
    double m_c = 0; // ramp low bound, sine or pulse period
    double m_d = 0; // ramp high bound or pulse duration
    double m_origin = 0;
};
