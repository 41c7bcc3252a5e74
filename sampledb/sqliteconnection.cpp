#include "sqliteconnection.h"

#include <QFile>

#include <sqlite3.h>

SqliteConnection::~SqliteConnection()
{
    close();
}

bool SqliteConnection::open(const QString& path, int flags)
{
    close();
    error.clear();
    sqlite3* native = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &native, flags, nullptr);
    if (rc == SQLITE_OK) {
        db = native;
        return true;
    }
    error = QString::fromUtf8(native ? sqlite3_errmsg(native) : sqlite3_errstr(rc));
    sqlite3_close(native);
    return false;
}

bool SqliteConnection::openReadOnly(const QString& path, int busyTimeoutMs)
{
    if (!open(path, SQLITE_OPEN_READONLY))
        return false;
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return true;
}

void SqliteConnection::close()
{
    sqlite3_close(db);
    db = nullptr;
}

QString SqliteConnection::lastError() const
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("not open");
}
