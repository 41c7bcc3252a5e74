#include "sampletable.h"

#include "summarytriggers.h"

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

QString SampleTable::indexPresentQuery()
{
    return QStringLiteral("select count(*) from sqlite_master where type = 'index' and name = "
                          "'%1' and tbl_name = 'quorbinal' and sql = '%2'")
        .arg(indexName(), normalized(createIndexStatement()));
}

bool SampleTable::hasIndex(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(indexPresentQuery()) && query.next() && query.value(0).toInt() > 0;
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

QString SampleTable::summaryName()
{
    return QStringLiteral("quorbinal_summary");
}

QString SampleTable::changesName()
{
    return QStringLiteral("quorbinal_changes");
}

QString SampleTable::stateName()
{
    return QStringLiteral("quorbinal_state");
}

QString SampleTable::changeGenerationName()
{
    return QStringLiteral("changeGeneration");
}

QStringList SampleTable::triggerNames()
{
    return {QStringLiteral("quorbinal_summarize"), QStringLiteral("quorbinal_summary_delete"),
            QStringLiteral("quorbinal_summary_update"), QStringLiteral("quorbinal_summary_replace"),
            QStringLiteral("quorbinal_summary_move")};
}

QString SampleTable::createSummaryStatement()
{
    // lastTime, the bucket's latest second, spares the trigger the lookup of a second already
    // taken for rows that come in time order.
    return QStringLiteral(
        "create table if not exists quorbinal_summary (serialno varchar(18) not null, bucket "
        "integer not null, rowCount integer not null, dirty integer not null, lastTime integer "
        "not null, count1 integer not null, sum1 float, min1 float, minTime1 integer, max1 float, "
        "maxTime1 integer, count2 integer not null, sum2 float, min2 float, minTime2 integer, "
        "max2 float, maxTime2 integer, primary key (serialno, bucket)) without rowid");
}

QString SampleTable::createChangesStatement()
{
    return QStringLiteral("create table if not exists quorbinal_changes (serialno varchar(18) not "
                          "null, bucket integer not null, changeCount integer not null, primary "
                          "key (serialno, bucket)) without rowid");
}

QString SampleTable::createStateStatement()
{
    return QStringLiteral("create table if not exists quorbinal_state (name text not null primary "
                          "key, value integer not null) without rowid");
}

QStringList SampleTable::createSummaryStatements()
{
    return QStringList{createSummaryStatement(), createChangesStatement()} +
           SummaryTriggers::createTriggerStatements();
}

QString SampleTable::newGenerationStatement()
{
    // Changes made while the triggers were missing went unmarked: the readers of the marks
    // learn it from a new generation.
    return QStringLiteral("insert into %1 (name, value) values ('%2', (random() & "
                          "4611686018427387903) + 1) on conflict (name) do update set value = "
                          "excluded.value")
        .arg(stateName(), changeGenerationName());
}

QString SampleTable::normalized(const QString& statement)
{
    for (const char* kind : {"table", "trigger", "index"}) {
        const QString head = QStringLiteral("create %1 if not exists ").arg(QLatin1String(kind));
        if (statement.startsWith(head))
            return QStringLiteral("CREATE ") + QString::fromLatin1(kind).toUpper() +
                   QLatin1Char(' ') + statement.mid(head.size());
    }
    return statement;
}
