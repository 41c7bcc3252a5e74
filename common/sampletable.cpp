#include "sampletable.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

QString SampleTable::createStatement()
{
    return QStringLiteral(
        "create table quorbinal (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) "
        "not null, \t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)");
}

QString SampleTable::indexName()
{
    return QStringLiteral("quorbinal_serialno_pointdate");
}

QString SampleTable::createIndexStatement()
{
    return QStringLiteral("create index if not exists quorbinal_serialno_pointdate on quorbinal "
                          "(serialno, pointDate)");
}

bool SampleTable::hasIndex(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("select 1 from sqlite_master where type = 'index' and name = ?"));
    query.addBindValue(indexName());
    return query.exec() && query.next();
}

QString SampleTable::recordedPeriodQuery(bool indexed)
{
    if (!indexed)
        return QStringLiteral("select min(pointDate), max(pointDate) from quorbinal");
    // SQLite answers min() or max() alone from an index's first column only; pointDate is the
    // second, so each node's first and last sample are looked up under its serial number, and
    // the serial numbers are walked one index seek at a time.
    return QStringLiteral(
        "with recursive node(serial) as ("
        " select (select min(serialno) from quorbinal)"
        " union all"
        " select (select min(serialno) from quorbinal where serialno > node.serial) from node"
        " where node.serial is not null)"
        " select min((select min(pointDate) from quorbinal where serialno = node.serial)),"
        " max((select max(pointDate) from quorbinal where serialno = node.serial))"
        " from node where node.serial is not null");
}
