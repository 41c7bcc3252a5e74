#pragma once

// Waits between attempts after failures: the first wait, doubled after each further failure up
// to the longest, so that a server that refuses (a wrong password) or is down is asked a few
// times a minute at first and then every few minutes, never in a storm.
class RetryBackoff
{
public:
    RetryBackoff(int firstMs, int maxMs);

    // The wait before the next attempt; counts one failure.
    int next();
    // After a success: the next failure waits the first wait again.
    void reset();
    int failures() const { return m_failures; }

private:
    int m_firstMs;
    int m_maxMs;
    int m_failures = 0;
};
