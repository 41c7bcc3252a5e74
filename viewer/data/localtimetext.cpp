#include "localtimetext.h"

namespace {

void digits(char* at, int value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        at[i] = char('0' + value % 10);
        value /= 10;
    }
}

} // namespace

void LocalTimeText::append(qint64 seconds, QByteArray* out)
{
    // Offsets from UTC change only on whole minutes, so within the minute of the last look-up
    // only the seconds move.
    const qint64 step = seconds - m_base;
    if (!m_valid || step < 0 || m_tm.tm_sec + step >= 60) {
        const std::time_t t = std::time_t(seconds);
        m_valid = localtime_r(&t, &m_tm) != nullptr;
        m_base = seconds;
    }
    const int second = m_valid ? m_tm.tm_sec + int(seconds - m_base) : 0;
    char text[19];
    digits(text, m_tm.tm_year + 1900, 4);
    text[4] = '-';
    digits(text + 5, m_tm.tm_mon + 1, 2);
    text[7] = '-';
    digits(text + 8, m_tm.tm_mday, 2);
    text[10] = ' ';
    digits(text + 11, m_tm.tm_hour, 2);
    text[13] = ':';
    digits(text + 14, m_tm.tm_min, 2);
    text[16] = ':';
    digits(text + 17, second, 2);
    out->append(text, sizeof text);
}

QByteArray LocalTimeText::text(qint64 seconds)
{
    QByteArray out;
    append(seconds, &out);
    return out;
}
