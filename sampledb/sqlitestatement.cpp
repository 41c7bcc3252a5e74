#include "sqlitestatement.h"

#include <sqlite3.h>

#include <utility>

SqliteStatement::SqliteStatement(SqliteHandle db, const QByteArray& sql)
{
    prepare(db, sql);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(handle);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : handle(std::exchange(other.handle, nullptr))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(handle);
        handle = std::exchange(other.handle, nullptr);
    }
    return *this;
}

bool SqliteStatement::prepare(SqliteHandle db, const QByteArray& sql)
{
    finalize();
    if (!db)
        return false;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &handle, nullptr) == SQLITE_OK)
        return true;
    finalize();
    return false;
}

void SqliteStatement::finalize()
{
    sqlite3_finalize(handle);
    handle = nullptr;
}

void SqliteStatement::reset(bool clearBindings)
{
    if (!handle)
        return;
    sqlite3_reset(handle);
    if (clearBindings)
        sqlite3_clear_bindings(handle);
}
