#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A time of each day on the local wall clock, "02:00-02:45" (it may cross midnight:
// "23:30-00:15"), during which a node is out of service. It follows the wall clock whatever
// the offset: on the day summer time begins a window in the skipped hour does not happen, on
// the day it ends a window in the repeated hour holds both times round, and a window across
// the change holds from its first wall time to its last.
class DailyWindow
{
public:
    // Minutes since midnight, 0..1439; from != to.
    DailyWindow() = default;

    // "HH:MM-HH:MM" with 24-hour times; empty for none. Null with the reason for anything else.
    static std::optional<DailyWindow> parse(const QString& text, QString* problem);
    bool isSet() const { return m_set; }
    QString text() const;

    // Whether `time` falls into the window on the local clock.
    bool contains(const QDateTime& time) const;

    bool operator==(const DailyWindow& other) const
    {
        return m_set == other.m_set && (!m_set || (m_from == other.m_from && m_to == other.m_to));
    }
    bool operator!=(const DailyWindow& other) const { return !(*this == other); }

private:
    bool m_set = false;
    int m_from = 0;
    int m_to = 0;
};
