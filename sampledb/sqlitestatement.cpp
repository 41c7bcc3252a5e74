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

bool SqliteStatement::failed(SqliteHandle db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void SqliteStatement::bindText(sqlite3_stmt* statement, int index, const QString& text)
{
    bindBytes(statement, index, text.toUtf8());
}

void SqliteStatement::bindBytes(sqlite3_stmt* statement, int index, const QByteArray& bytes)
{
    sqlite3_bind_text(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

QString SqliteStatement::textAt(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(bytesAt(statement, column));
}

QByteArray SqliteStatement::bytesAt(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    return data
               ? QByteArray(static_cast<const char*>(data), sqlite3_column_bytes(statement, column))
               : QByteArray();
}

bool SqliteStatement::tableExists(SqliteHandle db, const char* table, bool* exists, QString* error)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = ?");
    if (!s.isValid())
        return failed(db, error);
    sqlite3_bind_text(s.get(), 1, table, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return failed(db, error);
    *exists = rc == SQLITE_ROW;
    return true;
}
