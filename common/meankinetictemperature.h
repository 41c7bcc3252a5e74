#pragma once

#include "channelunit.h"

#include <optional>

// Mean kinetic temperature: the single temperature at which a product would take the same
// thermal stress as under the varying temperatures it saw (Arrhenius):
//
//   T_K = (dH/R) / -ln( sum(t_i * e^(-(dH/R) / T_i)) / sum(t_i) )
//
// with the temperatures T_i in kelvin, each standing for t_i seconds. dH/R is the activation
// energy over the gas constant; 83.144 kJ/mol gives 10,000 K. Values are given and answered in
// the channel's own unit, degrees Celsius or Fahrenheit.
class MeanKineticTemperature
{
public:
    // kJ/(mol K), as the pharmacopoeia's formula takes it: 83.144 kJ/mol is 10,000 K exactly.
    static constexpr double GasConstant = 8.3144e-3;
    // kJ/mol: dH/R = 10,000 K.
    static constexpr double DefaultActivationEnergy = 83.144;
    // Activation energies a channel may set, kJ/mol; outside them the default holds.
    static constexpr double LowestActivationEnergy = 10;
    static constexpr double HighestActivationEnergy = 500;

    enum class Scale
    {
        Celsius,
        Fahrenheit
    };
    // The scale of a temperature unit; none for any other (a Custom unit is never one).
    static std::optional<Scale> scaleOf(ChannelUnit unit);
    static bool acceptsActivationEnergy(double kiloJoulePerMole);

    explicit MeanKineticTemperature(Scale scale, double activationEnergy = DefaultActivationEnergy);

    Scale scale() const { return m_scale; }
    // dH/R in kelvin.
    double ratio() const { return m_ratio; }

    // e^(-(dH/R) / T) of a value in the channel's unit; 0 for one that is no temperature (not
    // finite, or at or below absolute zero).
    double term(double value) const;
    // One value standing for `seconds`; a value that is no temperature, or no time, adds
    // nothing.
    void add(double value, double seconds);
    // A precomputed sum: `weightedTerms` = sum(t_i * term(value_i)) over `seconds` = sum(t_i).
    void addSums(double weightedTerms, double seconds);
    void merge(const MeanKineticTemperature& other);

    bool isEmpty() const { return !(m_seconds > 0) || !(m_weighted > 0); }
    double seconds() const { return m_seconds; }
    double weightedTerms() const { return m_weighted; }
    // The mean kinetic temperature in the channel's unit; NaN while empty.
    double value() const;

    // Kelvin of a value in this scale, and back.
    double toKelvin(double value) const;
    double fromKelvin(double kelvin) const;

private:
    Scale m_scale;
    double m_ratio;
    double m_weighted = 0;
    double m_seconds = 0;
};
