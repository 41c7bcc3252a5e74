#include "checkedrows.h"

bool CheckedRows::text(sqlite3_stmt* statement, int column, int bound, QString* text)
{
    if (sqlite3_column_type(statement, column) != SQLITE_TEXT ||
        sqlite3_column_bytes(statement, column) > 4 * bound)
        return false;
    *text = SqliteStatement::textAt(statement, column);
    return true;
}

bool CheckedRows::integer(sqlite3_stmt* statement, int column, qint64* value)
{
    if (sqlite3_column_type(statement, column) != SQLITE_INTEGER)
        return false;
    *value = sqlite3_column_int64(statement, column);
    return true;
}
