#pragma once

#include <QDateTime>
#include <QSet>

// A silence of the alarm sound that a user asked for without signing in: for a chosen 5 to 30
// minutes, over the alarms sounding when it was asked. It acknowledges nothing (the alarms stay
// unacknowledged, their reminders go on); it ends when its time is up or an alarm it did not
// cover sounds, and once ended it stays ended.
class AlarmSilence
{
public:
    static constexpr int MinMinutes = 5;
    static constexpr int MaxMinutes = 30;

    // `minutes` brought within MinMinutes to MaxMinutes.
    static int bounded(int minutes);

    // From `now` for bounded(minutes), over the alarms (event ids) `sounding` now.
    void start(int minutes, const QDateTime& now, const QSet<qint64>& sounding);
    // True while it lasts with the alarms `sounding` at `now`; false, and ended, from its end or
    // from the first alarm it does not cover.
    bool holds(const QDateTime& now, const QSet<qint64>& sounding);
    void end();
    bool isOn() const { return m_until.isValid(); }
    QDateTime until() const { return m_until; }

private:
    QDateTime m_until;
    QSet<qint64> m_covered;
};
