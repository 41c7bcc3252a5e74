#include "summaryrepair.h"

#include "sampletable.h"
#include "sqlitestatement.h"
#include "summarytriggers.h"

#include <QHash>

#include <sqlite3.h>

namespace {

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

struct SchemaObject
{
    QString type;
    QString table;
    QString sql;
};

// The objects of these names as sqlite_master holds them.
bool readObjects(sqlite3* db, const QStringList& names, QHash<QString, SchemaObject>* objects)
{
    SqliteStatement s(db, "select name, type, tbl_name, sql from sqlite_master");
    if (!s.isValid())
        return false;
    int rc = SQLITE_OK;
    auto text = [&s](int column) {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(s.get(), column)),
            sqlite3_column_bytes(s.get(), column));
    };
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const QString name = text(0);
        if (names.contains(name))
            objects->insert(name, {text(1), text(2), text(3)});
    }
    return rc == SQLITE_DONE;
}

bool isObject(const QHash<QString, SchemaObject>& objects, const QString& name, const char* type,
              const QString& table, const QString& statement)
{
    const auto it = objects.find(name);
    return it != objects.end() && it->type == QLatin1String(type) && it->table == table &&
           it->sql == SampleTable::normalized(statement);
}

// The summary's table, the change marks' table and the triggers.
QStringList summaryObjectNames()
{
    return QStringList{SampleTable::summaryName(), SampleTable::changesName()} +
           SampleTable::triggerNames();
}

// True when the summary's triggers are these statements on the sample table, in the order of
// their names; a name past the statements must be free.
bool triggersAre(const QHash<QString, SchemaObject>& objects, const QStringList& statements)
{
    const QStringList names = SampleTable::triggerNames();
    for (int i = 0; i < names.size(); ++i) {
        const bool as = i < statements.size()
                            ? isObject(objects, names.at(i), "trigger", QStringLiteral("quorbinal"),
                                       statements.at(i))
                            : !objects.contains(names.at(i));
        if (!as)
            return false;
    }
    return true;
}

} // namespace

bool SummaryRepair::execute(SqliteHandle db, const QString& sql, QString* error)
{
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK ||
           fail(db, error);
}

bool SummaryRepair::dropObject(SqliteHandle db, const QString& name, QString* error)
{
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, {name}, &objects))
        return fail(db, error);
    const auto it = objects.constFind(name);
    if (it == objects.cend())
        return true;
    if (it->type != QLatin1String("table") && it->type != QLatin1String("view")) {
        *error = name + QStringLiteral(" is a ") + it->type;
        return false;
    }
    return execute(db, QStringLiteral("drop %1 %2").arg(it->type, name), error);
}

bool SummaryRepair::makeChangesTable(SqliteHandle db, QString* error)
{
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, {SampleTable::changesName()}, &objects))
        return fail(db, error);
    if (objects.contains(SampleTable::changesName()) &&
        !isObject(objects, SampleTable::changesName(), "table", SampleTable::changesName(),
                  SampleTable::createChangesStatement()) &&
        !dropObject(db, SampleTable::changesName(), error))
        return false;
    return execute(db, SampleTable::createChangesStatement(), error) &&
           execute(db, SampleTable::createStateStatement(), error);
}

bool SummaryRepair::makeTriggers(SqliteHandle db, QString* error)
{
    for (const QString& statement : SummaryTriggers::createTriggerStatements()) {
        if (!execute(db, statement, error))
            return false;
    }
    return execute(db, SampleTable::newGenerationStatement(), error);
}

bool SummaryRepair::hasTriggers(SqliteHandle db)
{
    QHash<QString, SchemaObject> objects;
    readObjects(db, SampleTable::triggerNames(), &objects);
    return !objects.isEmpty();
}

bool SummaryRepair::hasSummaryDefinitions(SqliteHandle db)
{
    QHash<QString, SchemaObject> objects;
    return readObjects(db, summaryObjectNames(), &objects) &&
           isObject(objects, SampleTable::summaryName(), "table", SampleTable::summaryName(),
                    SampleTable::createSummaryStatement()) &&
           isObject(objects, SampleTable::changesName(), "table", SampleTable::changesName(),
                    SampleTable::createChangesStatement()) &&
           triggersAre(objects, SummaryTriggers::createTriggerStatements());
}

bool SummaryRepair::summaryUsable(SqliteHandle db)
{
    if (!hasSummaryDefinitions(db))
        return false;
    // REPLACE through a unique index deletes the row it meets unseen by any trigger.
    SqliteStatement s(db, "select count(*) from pragma_index_list('quorbinal') where \"unique\"");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW &&
           sqlite3_column_int(s.get(), 0) == 0;
}

SummaryRepair::Repair SummaryRepair::summaryRepair(SqliteHandle db)
{
    if (hasSummaryDefinitions(db))
        return Repair::None;
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, summaryObjectNames(), &objects) ||
        !isObject(objects, SampleTable::summaryName(), "table", SampleTable::summaryName(),
                  SampleTable::createSummaryStatement()))
        return Repair::Rebuild;
    // This version's slower triggers kept the summary and the change marks as these do.
    if (isObject(objects, SampleTable::changesName(), "table", SampleTable::changesName(),
                 SampleTable::createChangesStatement()) &&
        triggersAre(objects, SummaryTriggers::slowerTriggerStatements()))
        return Repair::ReplaceTriggers;
    if (!triggersAre(objects, SummaryTriggers::earlierTriggerStatements()))
        return Repair::Rebuild;
    // The earlier triggers summed the no-value marker as a value and made a bucket of its own
    // for a time with a fraction: such a summary is made again.
    SqliteStatement s(db, QByteArray("select exists (select 1 from quorbinal_summary where "
                                     "typeof(bucket) <> 'integer' or max1 >= ") +
                              SummaryTriggers::markerLiteral() +
                              " or max2 >= " + SummaryTriggers::markerLiteral() + ")");
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_int(s.get(), 0))
        return Repair::Rebuild;
    return Repair::ReplaceTriggers;
}

bool SummaryRepair::dropTriggers(SqliteHandle db, QString* error)
{
    for (const QString& name : SampleTable::triggerNames()) {
        if (!execute(db, QStringLiteral("drop trigger if exists ") + name, error))
            return false;
    }
    return true;
}

bool SummaryRepair::repairSummary(SqliteHandle db, bool* rebuild, QString* error)
{
    *rebuild = false;
    const Repair repair = summaryRepair(db);
    if (repair == Repair::None)
        return true;
    if (!execute(db, QStringLiteral("begin immediate"), error))
        return false;
    // Read again under the write lock: another writer may have repaired it meanwhile.
    const Repair now = summaryRepair(db);
    bool ok = true;
    if (now == Repair::ReplaceTriggers)
        ok = dropTriggers(db, error) && makeChangesTable(db, error) && makeTriggers(db, error);
    else if (now == Repair::Rebuild)
        ok = dropTriggers(db, error);
    if (ok && execute(db, QStringLiteral("commit"), error)) {
        *rebuild = now == Repair::Rebuild;
        return true;
    }
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}
