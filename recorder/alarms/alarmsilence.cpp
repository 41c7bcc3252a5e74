#include "alarmsilence.h"

#include <QtGlobal>

int AlarmSilence::bounded(int minutes)
{
    return qBound(MinMinutes, minutes, MaxMinutes);
}

void AlarmSilence::start(int minutes, const QDateTime& now, const QSet<qint64>& sounding)
{
    m_until = now.addSecs(qint64(bounded(minutes)) * 60);
    m_covered = sounding;
}

bool AlarmSilence::holds(const QDateTime& now, const QSet<qint64>& sounding)
{
    if (!isOn())
        return false;
    // A clock set back does not stretch it: it never lasts longer than the longest choice.
    const bool timeUp = now >= m_until || now < m_until.addSecs(-qint64(MaxMinutes) * 60);
    if (timeUp || !m_covered.contains(sounding)) {
        end();
        return false;
    }
    return true;
}

void AlarmSilence::end()
{
    m_until = QDateTime();
    m_covered.clear();
}
