#include "channelanalysis.h"

#include "rangerule.h"
#include "samplespacing.h"

#include <algorithm>

ChannelAnalysis::Settings::Settings(const QVector<qint64>& bounds, qint64 step_, qint64 interval_)
    : dayBounds(bounds), step(qMax<qint64>(1, step_)), interval(qMax<qint64>(1, interval_))
{
    for (int d = 0; d < days(); ++d) {
        firstStep.append(int(stepStarts.size()));
        for (qint64 t = dayBounds.at(d); t < dayBounds.at(d + 1); t += step)
            stepStarts.append(t);
    }
    firstStep.append(int(stepStarts.size()));
}

int ChannelAnalysis::Settings::dayOf(qint64 time) const
{
    const auto it = std::upper_bound(dayBounds.cbegin(), dayBounds.cend(), time);
    return int(it - dayBounds.cbegin()) - 1;
}

bool ChannelAnalysis::Settings::holdsWhole(qint64 start, qint64 length) const
{
    const int day = dayOf(start);
    if (day < 0 || day >= days())
        return false;
    const qint64 last = start + length - 1;
    const qint64 midnight = dayBounds.at(day);
    return last < dayBounds.at(day + 1) && (start - midnight) / step == (last - midnight) / step;
}

ChannelAnalysis::ChannelAnalysis(const Settings* settings_) : settings(settings_)
{
    if (settings->scale)
        kinetic.emplace(*settings->scale, settings->activationEnergy);
}

qint64 ChannelAnalysis::edgeMargin(qint64 interval)
{
    constexpr qint64 longestInterval = 600;
    return 2 * qMax(qMax<qint64>(1, interval), longestInterval);
}

ChannelAnalysis::State ChannelAnalysis::stateOf(double value) const
{
    // As the recorder's alarm: its range rule.
    if (!settings->limited)
        return InLimits;
    switch (RangeRule(settings->lower, settings->upper).stateOf(value)) {
    case RangeRule::State::High:
        return High;
    case RangeRule::State::Low:
        return Low;
    case RangeRule::State::Inside:
        break;
    }
    return InLimits;
}

void ChannelAnalysis::add(qint64 time, double value)
{
    const bool inside = time >= settings->periodStart() && time < settings->periodEnd();
    if (inside)
        ++rowCount;
    if (value == NoValue)
        return;
    if (inside) {
        SampleTable::Figures one;
        one.count = 1;
        one.sum = one.min = one.max = value;
        one.minTime = one.maxTime = time;
        addToDay(time, one);
    }
    addToRuns(time, value);
}

void ChannelAnalysis::addToRuns(qint64 time, double value)
{
    const bool inside = time >= settings->periodStart() && time < settings->periodEnd();
    const State state = stateOf(value);
    const double extreme = inside ? value : NoValue;
    const double term = termOf(time, value);
    if (!runs.isEmpty() && runs.last().state == state &&
        time - runs.last().last <= 2 * settings->interval) {
        Run& run = runs.last();
        if (run.lastTerm > 0) {
            const qint64 seconds = qMin(time, settings->periodEnd()) - run.last;
            if (seconds <= settings->interval) {
                run.kineticTerms += double(seconds) * run.lastTerm;
                run.kineticSeconds += double(seconds);
            } else {
                run.longerTerms.append({run.lastTerm, seconds});
            }
        }
        run.lastTerm = term;
        run.last = time;
        ++run.count;
        const bool higher = state == High;
        if (inside)
            run.extreme = run.extreme == NoValue ? value
                          : higher               ? qMax(run.extreme, value)
                                                 : qMin(run.extreme, value);
        run.anyExtreme = higher ? qMax(run.anyExtreme, value) : qMin(run.anyExtreme, value);
        return;
    }
    Run run;
    run.first = run.last = time;
    run.count = 1;
    run.state = state;
    run.extreme = extreme;
    run.anyExtreme = value;
    run.lastTerm = term;
    runs.append(run);
}

bool ChannelAnalysis::takesStretch(double min, double max, qint64 longest) const
{
    // The range rule compares rounded values, in order: the extremes' state is every sample's.
    if (stateOf(min) != stateOf(max) || longest > settings->interval)
        return false;
    return !kinetic || kinetic->ratio() == MeanKineticTemperature(kinetic->scale()).ratio();
}

void ChannelAnalysis::addStretch(const Stretch& s)
{
    if (s.count < 1)
        return;
    addToRuns(s.firstTime, s.first);
    if (s.count < 2)
        return;
    // The samples inside continue the run the first one is in (one state, at most an interval
    // apart), each term weighted by its spacing, as add() does one by one.
    Run& run = runs.last();
    const bool higher = run.state == High;
    const double extreme = higher ? s.max : s.min;
    run.extreme = run.extreme == NoValue ? extreme
                  : higher               ? qMax(run.extreme, extreme)
                                         : qMin(run.extreme, extreme);
    run.anyExtreme = higher ? qMax(run.anyExtreme, extreme) : qMin(run.anyExtreme, extreme);
    if (kinetic) {
        run.kineticTerms += s.weightedTerms;
        run.kineticSeconds += double(s.lastTime - s.firstTime);
    }
    run.last = s.lastTime;
    run.count += s.count - 1;
    run.lastTerm = termOf(s.lastTime, s.last);
}

double ChannelAnalysis::termOf(qint64 time, double value) const
{
    if (!kinetic || time < settings->periodStart() || time >= settings->periodEnd())
        return 0;
    return kinetic->term(value);
}

void ChannelAnalysis::addFigures(qint64 start, qint64 rows, const SampleTable::Figures& figures)
{
    rowCount += int(rows);
    if (figures.count > 0)
        addToDay(start, figures);
}

void ChannelAnalysis::addToDay(qint64 time, const SampleTable::Figures& f)
{
    if (dayList.isEmpty()) {
        dayList.resize(settings->days());
        stepList.resize(int(settings->stepStarts.size()));
        dayCursor = settings->dayOf(time);
    }
    if (time < settings->dayBounds.at(dayCursor))
        dayCursor = settings->dayOf(time);
    while (time >= settings->dayBounds.at(dayCursor + 1))
        ++dayCursor;
    Day& day = dayList[dayCursor];
    day.count += int(f.count);
    day.sum += f.sum;
    day.min = qMin(day.min, f.min);
    day.max = qMax(day.max, f.max);

    const int index = settings->firstStep.at(dayCursor) +
                      int((time - settings->dayBounds.at(dayCursor)) / settings->step);
    Step& step = stepList[index];
    step.count += int(f.count);
    // Of equal extremes the first measured stays, in whatever order they come.
    if (f.min < step.low || (f.min == step.low && f.minTime < step.lowTime)) {
        step.low = f.min;
        step.lowTime = f.minTime;
    }
    if (f.max > step.high || (f.max == step.high && f.maxTime < step.highTime)) {
        step.high = f.max;
        step.highTime = f.maxTime;
    }
}

void ChannelAnalysis::append(const ChannelAnalysis& later)
{
    rowCount += later.rowCount;
    if (dayList.isEmpty()) {
        dayList = later.dayList;
        stepList = later.stepList;
    } else if (!later.dayList.isEmpty()) {
        // The pieces split the period at midnights: a day or step filled in both cannot occur,
        // so taking the later one's filled entries is exact.
        for (int d = 0; d < dayList.size(); ++d) {
            if (later.dayList.at(d).count > 0)
                dayList[d] = later.dayList.at(d);
        }
        for (int s = 0; s < stepList.size(); ++s) {
            if (later.stepList.at(s).count > 0)
                stepList[s] = later.stepList.at(s);
        }
    }
    // A run cut by the pieces' border stays two runs: coverage, excursions and gaps are
    // worked out across runs anyway.
    runs += later.runs;
}

SampleSpacing ChannelAnalysis::runSpacing(QVector<int>* after) const
{
    SampleSpacing spacing(settings->interval);
    after->resize(runs.size());
    for (int r = 0; r < runs.size(); ++r) {
        const Run& run = runs.at(r);
        if (run.count > 1)
            spacing.add((run.last - run.first) / (run.count - 1), run.count - 1);
        (*after)[r] = spacing.size();
        if (r + 1 < runs.size())
            spacing.add(runs.at(r + 1).first - run.last);
    }
    return spacing;
}

QVector<qint64> ChannelAnalysis::coverageEnds() const
{
    QVector<int> after;
    const SampleSpacing spacing = runSpacing(&after);
    QVector<qint64> ends(runs.size());
    for (int r = 0; r < runs.size(); ++r) {
        const qint64 last = runs.at(r).last;
        const bool next = r + 1 < runs.size();
        if (next && (runs.at(r + 1).first - last <= 2 * settings->interval ||
                     !spacing.isGapInForce(after.at(r))))
            ends[r] = runs.at(r + 1).first;
        else
            ends[r] = last + spacing.inForce(after.at(r));
    }
    return ends;
}

QVector<qint64> ChannelAnalysis::outSeconds() const
{
    QVector<qint64> out(settings->days(), 0);
    const QVector<qint64> ends = coverageEnds();
    for (int r = 0; r < runs.size(); ++r) {
        if (runs.at(r).state == InLimits)
            continue;
        const qint64 from = qMax(runs.at(r).first, settings->periodStart());
        const qint64 to = qMin(ends.at(r), settings->periodEnd());
        for (int d = 0; d < settings->days(); ++d) {
            const qint64 a = qMax(from, settings->dayBounds.at(d));
            const qint64 b = qMin(to, settings->dayBounds.at(d + 1));
            if (b > a)
                out[d] += b - a;
        }
    }
    return out;
}

QList<Excursion> ChannelAnalysis::excursions(int column) const
{
    QList<Excursion> list;
    const qint64 periodStart = settings->periodStart();
    const qint64 periodEnd = settings->periodEnd();
    bool open = false;
    Excursion current;
    double anyExtreme = 0;
    qint64 lastEnd = 0;
    auto close = [&] {
        if (!open)
            return;
        if (current.extreme == NoValue)
            current.extreme = anyExtreme;
        list.append(current);
        open = false;
    };
    const QVector<qint64> ends = coverageEnds();
    for (int r = 0; r < runs.size(); ++r) {
        const Run& run = runs.at(r);
        const qint64 from = qMax(run.first, periodStart);
        const qint64 to = qMin(ends.at(r), periodEnd);
        if (to <= from)
            continue; // wholly before or after the period
        if (run.state == InLimits) {
            close();
            continue;
        }
        const bool high = run.state == High;
        if (open && current.high != high)
            close();
        if (!open) {
            open = true;
            current = Excursion();
            current.column = column;
            current.high = high;
            current.start = from;
            current.openAtStart = run.first < periodStart;
            current.extreme = NoValue;
            anyExtreme = run.anyExtreme;
        } else {
            current.gapSeconds += from - lastEnd;
            anyExtreme = high ? qMax(anyExtreme, run.anyExtreme) : qMin(anyExtreme, run.anyExtreme);
        }
        if (run.extreme != NoValue)
            current.extreme = current.extreme == NoValue ? run.extreme
                              : high                     ? qMax(current.extreme, run.extreme)
                                                         : qMin(current.extreme, run.extreme);
        current.end = to;
        lastEnd = to;
    }
    // Not followed by a value within the limits inside the period: still open at its end.
    current.openAtEnd = true;
    close();
    return list;
}

QList<DataGap> ChannelAnalysis::gaps(int column) const
{
    QList<DataGap> list;
    const qint64 periodStart = settings->periodStart();
    const qint64 periodEnd = settings->periodEnd();
    auto add = [&](qint64 from, qint64 to) {
        from = qMax(from, periodStart);
        to = qMin(to, periodEnd);
        if (to > from)
            list.append({column, from, to});
    };
    if (runs.isEmpty()) {
        add(periodStart, periodEnd);
        return list;
    }
    // Samples are read from edgeMargin() before the period: a first one later than the period's
    // start leaves the start without data.
    if (runs.first().first > periodStart)
        add(periodStart, runs.first().first);
    const QVector<qint64> ends = coverageEnds();
    for (int r = 0; r < runs.size(); ++r) {
        const qint64 next = r + 1 < runs.size() ? runs.at(r + 1).first : periodEnd;
        const qint64 end = ends.at(r);
        if (end < next)
            add(end, next);
    }
    return list;
}

MeanKineticTemperature ChannelAnalysis::meanKinetic() const
{
    MeanKineticTemperature mkt(settings->scale.value_or(MeanKineticTemperature::Scale::Celsius),
                               settings->activationEnergy);
    if (!settings->scale)
        return mkt;
    QVector<int> after;
    const SampleSpacing spacing = runSpacing(&after);
    auto add = [&mkt](double term, qint64 seconds) {
        if (term > 0 && seconds > 0)
            mkt.addSums(double(seconds) * term, double(seconds));
    };
    for (int r = 0; r < runs.size(); ++r) {
        const Run& run = runs.at(r);
        mkt.addSums(run.kineticTerms, run.kineticSeconds);
        // A missed poll inside the run: at most the usual spacing of its samples.
        const qint64 inside = run.count > 1 ? spacing.inForce(after.at(r) - 1) : settings->interval;
        for (const QPair<double, qint64>& longer : run.longerTerms)
            add(longer.first, qMin(longer.second, inside));
        // The last sample: up to the next run's first or the period's end, at most the usual
        // spacing there, so that a gap counts for nothing.
        qint64 seconds = settings->periodEnd() - run.last;
        if (r + 1 < runs.size())
            seconds = qMin(seconds, runs.at(r + 1).first - run.last);
        add(run.lastTerm, qMin(seconds, spacing.inForce(after.at(r))));
    }
    return mkt;
}
