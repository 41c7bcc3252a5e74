#pragma once

#include "meankinetictemperature.h"
#include "novalue.h"
#include "reporttables.h"
#include "sampletable.h"

#include "samplespacing.h"

#include <QList>
#include <QPair>
#include <QVector>

#include <optional>

// Condenses one channel's samples of a report period of whole local days: per day the count,
// sum, minimum and maximum of its valid samples; per chart step of each day its lowest and its
// highest value; and, against the critical limits, the time out of limits per day, the
// excursions and the data gaps.
//
// Time out of limits: each valid sample stands for the time up to the next valid sample unless
// the stretch between them is a data gap (SampleSpacing: longer than twice the usual spacing of
// the samples around it and than two intervals); then the sample stands for one usual spacing
// and the rest, up to the next sample, is the gap. A gap is neither in nor out of limits: it
// does not end an excursion (one that continues after it includes it) and is not counted as
// time out of limits. Samples within edgeMargin() before and after the period are given too,
// so that the period's edges are covered as in the middle of a recording.
//
// The samples of a period may be read in pieces (by day, in parallel): each piece is analysed
// on its own and the pieces are joined in time order. The day figures and the chart may also be
// given as condensed stretches of rows (the recorder's summary).
class ChannelAnalysis
{
public:
    struct Settings
    {
        Settings(const QVector<qint64>& dayBounds, qint64 step, qint64 interval);

        QVector<qint64> dayBounds; // each day's first second, then the period's end + 1
        qint64 step;               // chart step, seconds, from each local midnight
        qint64 interval;           // sampling interval, seconds
        bool limited = false;      // equal bounds: no critical limits
        double lower = 0;
        double upper = 0;
        // A temperature channel's scale, for its mean kinetic temperature; none for another.
        std::optional<MeanKineticTemperature::Scale> scale;
        double activationEnergy = MeanKineticTemperature::DefaultActivationEnergy; // kJ/mol
        QVector<int> firstStep;     // per day, the index of its first step; last: the count
        QVector<qint64> stepStarts; // every step of every day, in order

        int days() const { return int(dayBounds.size()) - 1; }
        qint64 periodStart() const { return dayBounds.first(); }
        qint64 periodEnd() const { return dayBounds.last(); } // exclusive
        int dayOf(qint64 time) const;
        // True when the seconds from `start` on for `length` lie in the period, in one day and
        // in one step: their figures can be taken together.
        bool holdsWhole(qint64 start, qint64 length) const;
    };

    struct Day
    {
        int count = 0;
        double sum = 0;
        double min = NoValue;
        double max = -NoValue;
    };

    // A step's lowest and highest value; first* is the one measured first.
    struct Step
    {
        int count = 0;
        double low = NoValue;
        double high = -NoValue;
        qint64 lowTime = 0;
        qint64 highTime = 0;
        double firstValue() const { return lowTime <= highTime ? low : high; }
        double secondValue() const { return lowTime <= highTime ? high : low; }
    };

    explicit ChannelAnalysis(const Settings* settings);

    // How far before and after the period samples are read: enough to find the samples next to
    // its edges, even when they came at the longest interval the recorder offers.
    static qint64 edgeMargin(qint64 interval);

    // One row of the channel, in ascending time and one per second; NoValue for none.
    void add(qint64 time, double value);
    // The day figures and the chart of `rows` rows, all in one day and one step from `start`
    // on (Settings::holdsWhole), condensed into `figures`; without excursions or gaps. Rows and
    // stretches may come in any order.
    void addFigures(qint64 start, qint64 rows, const SampleTable::Figures& figures);
    // Valid samples of a stretch inside the period that takesStretch() accepted, given by their
    // first and last sample, their number, their extremes, and the sum over their spacings of
    // spacing * term of the earlier sample (MeanKineticTemperature::term, the default activation
    // energy; 0 for a channel without a scale): the runs, coverage, excursions and mean kinetic
    // temperature come out as from the rows themselves. Its day figures and chart come with
    // addFigures().
    struct Stretch
    {
        qint64 firstTime = 0;
        double first = 0;
        qint64 lastTime = 0;
        double last = 0;
        qint64 count = 0;
        double min = 0;
        double max = 0;
        double weightedTerms = 0;
    };
    void addStretch(const Stretch& stretch);
    // True when samples from `min` to `max`, none further than `longest` seconds from the next,
    // hold no excursion's edge and no gap, and each stands for the time to the next one in the
    // mean kinetic temperature: all on one side of the limits (all within, all above or all
    // below), spaced by at most the interval, and a channel of the default activation energy.
    bool takesStretch(double min, double max, qint64 longest) const;
    // Joins the analysis of the rows that come after this one's.
    void append(const ChannelAnalysis& later);

    int rows() const { return rowCount; } // rows inside the period, valid or not
    const QVector<Day>& dayFigures() const { return dayList; }
    const QVector<Step>& steps() const { return stepList; }
    QVector<qint64> outSeconds() const;
    QList<Excursion> excursions(int column) const;
    QList<DataGap> gaps(int column) const;
    // The mean kinetic temperature of the valid samples inside the period (Settings::scale):
    // each stands for the time to the next valid sample, at most the interval in force there
    // (the usual spacing of the samples around it, SampleSpacing), the last one up to the
    // period's end; gaps count for nothing.
    MeanKineticTemperature meanKinetic() const;

private:
    enum State
    {
        InLimits,
        High,
        Low
    };
    // Samples of one state, each within two intervals of the one before.
    struct Run
    {
        qint64 first = 0;
        qint64 last = 0;
        qint64 count = 0; // valid samples
        State state = InLimits;
        double extreme = NoValue; // of the samples inside the period (NoValue: none)
        double anyExtreme = 0;    // of all its samples
        // Mean kinetic temperature: the terms of its samples inside the period whose time is
        // known (the spacing to the next one, at most an interval), and those standing for a
        // longer spacing, bounded when the usual spacing is known. The last sample's term
        // (0: outside the period, or no temperature) waits for the next run.
        double kineticTerms = 0;
        double kineticSeconds = 0;
        QVector<QPair<double, qint64>> longerTerms; // term, seconds up to the next sample
        double lastTerm = 0;
    };

    State stateOf(double value) const;
    // The runs' part of add().
    void addToRuns(qint64 time, double value);
    // Per run, the end of the time its samples stand for: the next run's first sample, or, when
    // a gap follows, its last sample plus the usual spacing.
    QVector<qint64> coverageEnds() const;
    // The spacings between the samples in time order (those inside a run by their mean, then
    // the one to the next run), and per run the entry of the spacing after it.
    SampleSpacing runSpacing(QVector<int>* after) const;
    double termOf(qint64 time, double value) const;
    void addToDay(qint64 time, const SampleTable::Figures& figures);

    const Settings* settings;
    std::optional<MeanKineticTemperature> kinetic; // of a temperature channel
    QVector<Day> dayList;
    QVector<Step> stepList;
    QVector<Run> runs;
    int rowCount = 0;
    int dayCursor = 0;
};
