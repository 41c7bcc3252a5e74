#include "forwardcursor.h"

ForwardCursor::ForwardCursor(qint64 position) : m_position(position), m_lastExpected(position) {}

bool ForwardCursor::expect(qint64 id, const QVector<int>& parts)
{
    if (id <= m_lastExpected)
        return false;
    unsigned bits = 0;
    for (int part : parts) {
        if (part < 0 || part > 30)
            return false;
        bits |= 1u << part;
    }
    m_lastExpected = id;
    m_open.emplace(id, bits);
    if (bits)
        ++m_outstanding;
    advance();
    return true;
}

bool ForwardCursor::expectRow(qint64 id, const QVector<ForwardSample>& samples)
{
    QVector<int> parts;
    for (const ForwardSample& sample : samples) {
        if (sample.rowId != id)
            return false;
        parts.append(sample.channel);
    }
    return expect(id, parts);
}

void ForwardCursor::acknowledge(qint64 id, int part)
{
    const auto it = m_open.find(id);
    if (it == m_open.end() || part < 0 || part > 30 || !(it->second & (1u << part)))
        return;
    it->second &= ~(1u << part);
    if (it->second == 0)
        --m_outstanding;
    advance();
}

void ForwardCursor::acknowledgeSamples(const QVector<SampleKey>& keys)
{
    for (const SampleKey& key : keys)
        acknowledge(key.rowId, key.channel);
}

void ForwardCursor::acknowledgeAlarmChanges(const QVector<qint64>& changeMarks)
{
    for (qint64 mark : changeMarks)
        acknowledge(mark, 0);
}

void ForwardCursor::reset()
{
    m_open.clear();
    m_outstanding = 0;
    m_lastExpected = m_position;
}

void ForwardCursor::advance()
{
    while (!m_open.empty() && m_open.begin()->second == 0) {
        m_position = m_open.begin()->first;
        m_open.erase(m_open.begin());
    }
}
