#include "kineticsums.h"

#include "meankinetictemperature.h"

void KineticSums::add(double term, qint64 time, qint64 interval)
{
    if (!(term > 0))
        return;
    KineticSums one;
    one.first = one.last = time;
    one.lastTerm = term;
    merge(one, interval);
}

void KineticSums::merge(const KineticSums& other, qint64 interval)
{
    if (other.isEmpty())
        return;
    if (isEmpty()) {
        *this = other;
        return;
    }
    const bool otherFirst = other.first < first;
    const KineticSums& early = otherFirst ? other : *this;
    const KineticSums& late = otherFirst ? *this : other;
    KineticSums joined;
    joined.terms = early.terms + late.terms;
    joined.seconds = early.seconds + late.seconds;
    joined.first = early.first;
    if (late.first > early.last) {
        const double held = double(qMin(late.first - early.last, interval));
        joined.terms += held * early.lastTerm;
        joined.seconds += held;
        joined.last = late.last;
        joined.lastTerm = late.lastTerm;
    } else if (late.first == early.last) {
        // The same second in both: the later part's sample stands for it.
        joined.last = late.last;
        joined.lastTerm = late.lastTerm;
    } else {
        const bool earlyEnds = early.last > late.last;
        const KineticSums& before = earlyEnds ? late : early;
        const KineticSums& after = earlyEnds ? early : late;
        const double held = double(qMin(after.last - before.last, interval));
        joined.terms += held * before.lastTerm;
        joined.seconds += held;
        joined.last = after.last;
        joined.lastTerm = after.lastTerm;
    }
    *this = joined;
}

void KineticSums::closeInto(MeanKineticTemperature* mkt, qint64 end, qint64 interval) const
{
    if (isEmpty())
        return;
    mkt->addSums(terms, seconds);
    if (end > last) {
        const double held = double(qMin(end - last, interval));
        mkt->addSums(held * lastTerm, held);
    }
}
