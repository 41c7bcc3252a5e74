#include "projectfilecopy.h"

#include "sha256.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace {

const char* const CreateTable = "create table if not exists project_file_copy ("
                                "sequence integer primary key, text blob not null)";

bool fail(SqliteHandle db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

} // namespace

QString ProjectFileCopy::describe(const QByteArray& text)
{
    return QStringLiteral("SHA-256 ") + QString::fromLatin1(Sha256::hexOf(text)) +
           QStringLiteral(", %1 bytes").arg(text.size());
}

bool ProjectFileCopy::store(SqliteHandle db, qint64 sequence, const QByteArray& text,
                            QString* error)
{
    if (sqlite3_exec(db, CreateTable, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(db, error);
    SqliteStatement s(db, "insert into project_file_copy (sequence, text) values (?, ?)");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, sequence);
    sqlite3_bind_blob(s.get(), 2, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool ProjectFileCopy::read(const QString& databasePath, qint64 sequence,
                           std::optional<QByteArray>* text, QString* error)
{
    text->reset();
    error->clear();
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.open(databasePath, SQLITE_OPEN_READONLY)) {
        *error = connection.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection.get(), 5000);
    SqliteStatement exists(connection.get(),
                           "select 1 from sqlite_master where type = 'table' and name = "
                           "'project_file_copy'");
    if (!exists.isValid())
        return fail(connection.get(), error);
    const int found = sqlite3_step(exists.get());
    if (found == SQLITE_DONE)
        return true;
    if (found != SQLITE_ROW)
        return fail(connection.get(), error);
    exists.finalize();
    SqliteStatement s(connection.get(), "select text from project_file_copy where sequence = ?");
    if (!s.isValid())
        return fail(connection.get(), error);
    sqlite3_bind_int64(s.get(), 1, sequence);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE)
        return true;
    if (rc != SQLITE_ROW)
        return fail(connection.get(), error);
    const int size = sqlite3_column_bytes(s.get(), 0);
    if (size > MaximumBytes) {
        *error = QStringLiteral("the kept copy is larger than a project file");
        return false;
    }
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(s.get(), 0));
    *text = bytes ? QByteArray(bytes, size) : QByteArray();
    return true;
}
