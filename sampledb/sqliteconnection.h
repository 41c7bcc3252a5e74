#pragma once

#include "sqlitehandle.h"

#include <QString>

// A connection on SQLite's own interface, closed on every way out.
class SqliteConnection
{
public:
    SqliteConnection() = default;
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // flags as for sqlite3_open_v2. Closes a connection held before. On failure the reason is
    // in errorText() and nothing stays open.
    bool open(const QString& path, int flags);
    // An existing file, only to read, waiting up to busyTimeoutMs for another program's write.
    bool openReadOnly(const QString& path, int busyTimeoutMs);
    void close();
    bool isOpen() const { return bool(db); }
    SqliteHandle get() const { return db; }
    const QString& errorText() const { return error; }

    // The connection's last error, or "not open".
    QString lastError() const;

private:
    SqliteHandle db;
    QString error;
};
