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
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK)
        return true;
    error = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    db = nullptr;
    return false;
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
