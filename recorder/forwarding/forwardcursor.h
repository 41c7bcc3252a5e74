#pragma once

#include "forwardrecords.h"

#include <QVector>

#include <map>

// The caller's side of at-least-once forwarding for one stream of ids (the sample table's row
// ids, or alarm change marks): which ids have gone out in full, so that the cursor kept in the
// database only ever moves past an id whose every record the target acknowledged. A row with
// two samples counts once both are acknowledged; a row with nothing to send (a gap record)
// counts at once. Acknowledging a record twice, or one that was not expected, changes nothing.
class ForwardCursor
{
public:
    // `position`: the last id that went out in full (from the database).
    explicit ForwardCursor(qint64 position = 0);

    // An id handed to a target with the parts it was sent as (a sample's channel; 0 for an
    // alarm change; an empty list for nothing to send). Ids ascend: false, and nothing noted,
    // for an id at or below one expected before or below the position.
    bool expect(qint64 id, const QVector<int>& parts);
    // The samples of one row (all of them, possibly none).
    bool expectRow(qint64 id, const QVector<ForwardSample>& samples);

    void acknowledge(qint64 id, int part);
    void acknowledgeSamples(const QVector<SampleKey>& keys);
    void acknowledgeAlarmChanges(const QVector<qint64>& changeMarks);

    // Every id up to it went out in full: what the database's cursor may be set to.
    qint64 position() const { return m_position; }
    // The highest id expected so far (the position when nothing is outstanding).
    qint64 lastExpected() const { return m_lastExpected; }
    // Ids expected and not yet gone out in full.
    int outstanding() const { return m_outstanding; }

    // Forgets what is outstanding, for a target made anew: those ids are read again from the
    // position on.
    void reset();

private:
    void advance();

    qint64 m_position;
    qint64 m_lastExpected;
    // Ids above the position: parts still unacknowledged, one bit each (0 once all came).
    std::map<qint64, unsigned> m_open;
    int m_outstanding = 0;
};
