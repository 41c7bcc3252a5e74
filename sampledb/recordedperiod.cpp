#include "recordedperiod.h"

#include "sampletable.h"

#include <QDateTime>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

QString timeText(quint32 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

quint32 RecordedPeriod::query(const QSqlDatabase& db, End end, const QString& traceHead)
{
    QSqlQuery query(db);
    if (!query.exec(SampleTable::recordedPeriodQuery(SampleTable::hasIndex(db))) || !query.next()) {
        trace(traceHead + QStringLiteral("query error"));
        return 0;
    }
    const QVariant value = query.value(int(end));
    const qlonglong seconds = value.isNull() ? 0 : value.toLongLong();
    const quint32 result = static_cast<quint32>(
        std::clamp<qlonglong>(seconds, 0, std::numeric_limits<quint32>::max()));
    trace(traceHead + timeText(result));
    return result;
}
