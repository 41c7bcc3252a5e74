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
                                             const QString& comment,
                                             const CorrectiveAction& action)
{
    AlarmEventWrite w;
    w.kind = Kind::Acknowledge;
    w.record.id = id;
    w.record.acknowledgedAt = at;
    w.record.acknowledgedBy = by;
    w.record.comment = comment;
    w.record.action = action;
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

namespace {

// The order of the values; appended to, never reordered (journals keep them).
enum Field
{
    FieldKind,
    FieldId,
    FieldSerial,
    FieldChannel,
    FieldAlarmKind,
    FieldLimit,
    FieldStart,
    FieldRaised,
    FieldExtremeValue,
    FieldExtremeTime,
    FieldEnd,
    FieldEnded,
    FieldAcknowledgedAt,
    FieldAcknowledgedBy,
    FieldComment,
    FieldLastSamples,
    // Added later: journals of earlier versions end before it.
    FieldContinues,
    // Added later still: the corrective action.
    FieldCause,
    FieldActionTaken,
    FieldProductAffected,
    FieldQuantity,
    FieldDecidedBy,
    FieldCount
};

template <typename T> QVariant optionalValue(const std::optional<T>& value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

std::optional<double> optionalDouble(const QVariant& value)
{
    return value.isValid() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

std::optional<qint64> optionalTime(const QVariant& value)
{
    return value.isValid() ? std::optional<qint64>(value.toLongLong()) : std::nullopt;
}

} // namespace

QVariantList AlarmEventWrite::toValues() const
{
    QVariantList samples;
    for (const auto& [serial, time] : lastSamples)
        samples << serial << time;
    QVariantList v;
    v.reserve(FieldCount);
    v << int(kind) << record.id << record.serial << record.channel << int(record.kind)
      << optionalValue(record.limit) << record.start << record.raised
      << optionalValue(record.extremeValue) << optionalValue(record.extremeTime)
      << optionalValue(record.end) << int(record.ended) << optionalValue(record.acknowledgedAt)
      << record.acknowledgedBy << record.comment << QVariant(samples)
      << optionalValue(record.continues) << record.action.cause << record.action.actionTaken
      << record.action.productAffected << record.action.quantity << record.action.decidedBy;
    return v;
}

bool AlarmEventWrite::fromValues(const QVariantList& v, AlarmEventWrite* write)
{
    if (v.size() != FieldCount && v.size() != FieldCause && v.size() != FieldContinues)
        return false;
    const int kind = v.at(FieldKind).toInt();
    const int alarmKind = v.at(FieldAlarmKind).toInt();
    const int ended = v.at(FieldEnded).toInt();
    if (kind < int(Kind::Insert) || kind > int(Kind::CloseInterrupted) ||
        alarmKind < int(AlarmKind::High) || alarmKind > int(AlarmKind::Battery) ||
        ended < int(AlarmEnd::Active) || ended > int(AlarmEnd::NoData))
        return false;
    AlarmEventWrite w;
    w.kind = Kind(kind);
    AlarmEventRecord& r = w.record;
    r.id = v.at(FieldId).toLongLong();
    r.serial = v.at(FieldSerial).toString();
    r.channel = v.at(FieldChannel).toInt();
    r.kind = AlarmKind(alarmKind);
    r.limit = optionalDouble(v.at(FieldLimit));
    r.start = v.at(FieldStart).toLongLong();
    r.raised = v.at(FieldRaised).toLongLong();
    r.extremeValue = optionalDouble(v.at(FieldExtremeValue));
    r.extremeTime = optionalTime(v.at(FieldExtremeTime));
    r.end = optionalTime(v.at(FieldEnd));
    r.ended = AlarmEnd(ended);
    r.acknowledgedAt = optionalTime(v.at(FieldAcknowledgedAt));
    r.acknowledgedBy = v.at(FieldAcknowledgedBy).toString();
    r.comment = v.at(FieldComment).toString();
    const QVariantList samples = v.at(FieldLastSamples).toList();
    if (samples.size() % 2 != 0)
        return false;
    for (int i = 0; i < samples.size(); i += 2)
        w.lastSamples.append({samples.at(i).toString(), samples.at(i + 1).toLongLong()});
    if (v.size() > FieldContinues)
        r.continues = optionalTime(v.at(FieldContinues));
    if (v.size() > FieldCause) {
        r.action.cause = v.at(FieldCause).toString();
        r.action.actionTaken = v.at(FieldActionTaken).toString();
        r.action.productAffected = v.at(FieldProductAffected).toString();
        r.action.quantity = v.at(FieldQuantity).toString();
        r.action.decidedBy = v.at(FieldDecidedBy).toString();
    }
    *write = w;
    return true;
}
