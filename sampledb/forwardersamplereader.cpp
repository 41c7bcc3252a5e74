#include "forwardersamplereader.h"

#include "alarmeventtable.h"
#include "novalue.h"
#include "sampletable.h"

#include <sqlite3.h>

bool ForwarderSampleReader::stateValue(const QString& name, qint64* value)
{
    if (!exists("table", SampleTable::stateName()))
        return false;
    const QByteArray sql =
        QByteArray("select value from ") + SampleTable::stateName().toUtf8() + " where name = ?";
    SqliteStatement s(handle(), sql);
    if (!s.isValid())
        return fail("prepare");
    const QByteArray utf8 = name.toUtf8();
    bindText(s.get(), 1, utf8);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return false;
    *value = sqlite3_column_int64(s.get(), 0);
    return true;
}

qint64 ForwarderSampleReader::firstIdFrom(qint64 time)
{
    return smallestFrom("select min(id) from quorbinal where pointDate >= ?", time);
}

bool ForwarderSampleReader::valuesAfter(qint64 afterId, qint64* count, qint64* earliest)
{
    // The marker compared as SQLite stores it (a REAL), as the rows handed out are read.
    SqliteStatement s(handle(), "select coalesce(sum(channel1 is not null and channel1 <> ?2) + "
                                "sum(channel2 is not null and channel2 <> ?2), 0), "
                                "coalesce(min(pointDate), 0) from quorbinal where id > ?1");
    if (!s.isValid())
        return fail("prepare");
    sqlite3_bind_int64(s.get(), 1, afterId);
    sqlite3_bind_double(s.get(), 2, NoValue);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return fail("step");
    *count = sqlite3_column_int64(s.get(), 0);
    *earliest = sqlite3_column_int64(s.get(), 1);
    return true;
}

bool ForwarderSampleReader::alarmChangesSince(qint64 mark, int limit,
                                              QVector<AlarmEventRecord>* out)
{
    QString why;
    if (!AlarmEventTable::changesSince(handle(), mark, limit, out, &why)) {
        setError(why);
        return false;
    }
    return true;
}

qint64 ForwarderSampleReader::lastAlarmChangeMark()
{
    if (!AlarmEventTable::exists(handle()))
        return 0;
    return idBound("select max(changeMark) from alarm_event");
}

qint64 ForwarderSampleReader::firstAlarmChangeMarkFrom(qint64 time)
{
    if (!AlarmEventTable::exists(handle()))
        return 0;
    return smallestFrom(
        "select min(changeMark) from alarm_event where endTime is null or endTime >= ?", time);
}

bool ForwarderSampleReader::rowsAfter(qint64 afterId, int limit, const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(rowColumns()) + "where id > ?1 order by id limit ?2";
    sqlite3_stmt* s = kept(sql);
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, afterId);
    sqlite3_bind_int(s, 2, limit);
    return rowsById(s, sink);
}
