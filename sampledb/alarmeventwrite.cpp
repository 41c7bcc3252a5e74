#include "alarmeventwrite.h"

AlarmEventWrite AlarmEventWrite::insert(const AlarmEventRecord& record)
{
    AlarmEventWrite w;
    w.kind = Kind::Insert;
    w.record = record;
    return w;
}

AlarmEventWrite AlarmEventWrite::extreme(qint64 id, double value, qint64 time)
{
    AlarmEventWrite w;
    w.kind = Kind::Extreme;
    w.record.id = id;
    w.record.extremeValue = value;
    w.record.extremeTime = time;
    return w;
}

AlarmEventWrite AlarmEventWrite::close(qint64 id, qint64 end, AlarmEnd ended,
                                       std::optional<double> extremeValue,
                                       std::optional<qint64> extremeTime)
{
    AlarmEventWrite w;
    w.kind = Kind::Close;
    w.record.id = id;
    w.record.end = end;
    w.record.ended = ended;
    w.record.extremeValue = extremeValue;
    w.record.extremeTime = extremeTime;
    return w;
}

AlarmEventWrite AlarmEventWrite::acknowledge(qint64 id, qint64 at, const QString& by,
                                             const QString& comment)
{
    AlarmEventWrite w;
    w.kind = Kind::Acknowledge;
    w.record.id = id;
    w.record.acknowledgedAt = at;
    w.record.acknowledgedBy = by;
    w.record.comment = comment;
    return w;
}

AlarmEventWrite AlarmEventWrite::noteLastSamples(const QVector<QPair<QString, qint64>>& samples)
{
    AlarmEventWrite w;
    w.kind = Kind::LastSamples;
    w.lastSamples = samples;
    return w;
}

AlarmEventWrite AlarmEventWrite::closeInterrupted()
{
    AlarmEventWrite w;
    w.kind = Kind::CloseInterrupted;
    return w;
}
