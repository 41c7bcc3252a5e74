#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3_stmt;

// A prepared statement on SQLite's own interface, finalized on every way out. Every reader and
// writer of the sample database that bypasses the SQL module keeps its statements in one of
// these.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    // Prepares at once; isValid() tells whether it worked.
    SqliteStatement(SqliteHandle db, const QByteArray& sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Finalizes a statement held before. False when SQLite refuses the text.
    bool prepare(SqliteHandle db, const QByteArray& sql);
    void finalize();
    bool isValid() const { return handle != nullptr; }
    sqlite3_stmt* get() const { return handle; }

    // Resetting ends the statement's read transaction at once; bindings stay unless cleared.
    void reset(bool clearBindings = false);

    // For the tables' own statements: SQLite's last message into `error`, and false.
    static bool failed(SqliteHandle db, QString* error);
    static void bindText(sqlite3_stmt* statement, int index, const QString& text);
    // Bytes bound as text (hashes, UTF-8 already encoded).
    static void bindBytes(sqlite3_stmt* statement, int index, const QByteArray& bytes);
    static QString textAt(sqlite3_stmt* statement, int column);
    // A column's bytes as stored, text or blob.
    static QByteArray bytesAt(sqlite3_stmt* statement, int column);
    // Whether the database has the table; false with the reason when it cannot be asked.
    static bool tableExists(SqliteHandle db, const char* table, bool* exists, QString* error);

private:
    sqlite3_stmt* handle = nullptr;
};
