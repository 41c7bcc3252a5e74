#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The project file's full text as it stood when its settings were accepted, kept in the
// project's database beside the audit trail, so that the recorder can put the accepted file
// back when the file was edited by hand under access control:
//
//   project_file_copy   one row per copy
//     sequence          the audit entry that carries the text's SHA-256 (keptAction())
//     text              the file's bytes as they were
//
// The table is only a store: a copy is trusted once the entry's hash and the text's SHA-256 in
// it agree (EditedSettings checks that), so a copy replaced with the sqlite3 program is refused.
class ProjectFileCopy
{
public:
    static QString tableName() { return QStringLiteral("project_file_copy"); }
    // The action of the entry that carries a copy's SHA-256.
    static QString keptAction() { return QStringLiteral("project file kept"); }
    // A file larger than this is not a project file the recorder wrote: no copy is kept.
    static constexpr int MaximumBytes = 4 * 1024 * 1024;

    // The entry's new value for `text`: "SHA-256 <64 hex digits>, N bytes".
    static QString describe(const QByteArray& text);

    // Inside the caller's write transaction (the writer's): makes the table when missing and
    // keeps `text` under the entry `sequence`.
    static bool store(SqliteHandle db, qint64 sequence, const QByteArray& text, QString* error);
    // The copy kept with entry `sequence`, on a read-only connection of its own; nullopt when
    // there is none (or no table). False only on errors.
    static bool read(const QString& databasePath, qint64 sequence, std::optional<QByteArray>* text,
                     QString* error);
};
