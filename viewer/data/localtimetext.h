#pragma once

#include <QByteArray>

#include <ctime>

// Writes Unix seconds as local time "yyyy-MM-dd hh:mm:ss" fast enough for millions of rows:
// the calendar is worked out once per minute and the seconds counted on from there. Follows TZ
// like every other time the programs show, summer time included.
class LocalTimeText
{
public:
    void append(qint64 seconds, QByteArray* out);
    QByteArray text(qint64 seconds);

private:
    qint64 m_base = 0;
    bool m_valid = false;
    std::tm m_tm = {};
};
