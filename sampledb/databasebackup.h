#pragma once

#include <QString>

// A copy of a project's database taken while the recorder writes to it, on the caller's thread
// (never the GUI thread: a copy of a month takes seconds) and with connections of its own. The
// database is in WAL mode with one writer: the copy reads one snapshot from start to end, so
// the writer goes on committing into the log meanwhile and the copy is the file as it stood at
// one commit. Steps that each took a snapshot of their own would start again at each of the
// writer's commits (one a second while recording) and never end.
//
// The copy is written under a temporary name in the target's folder, flushed to the disk and
// only then renamed to the target: a target that exists is a whole copy.
class DatabaseBackup
{
public:
    enum class Method
    {
        // The online backup interface in one step: the pages as they are, the quickest, but the
        // whole copy reaches the disk in one burst.
        PageCopy,
        // The same in steps of 16 MiB inside one read snapshot, each step synced to the disk:
        // the writer's fsync never queues behind more than one step.
        PageSteps,
        // VACUUM INTO: the rows written anew, compact, every index rebuilt; its writes too reach
        // the disk in one burst.
        VacuumInto
    };
    struct Outcome
    {
        bool ok = false;
        // The target's disk (or a size limit) was full: said plainly to the user.
        bool diskFull = false;
        QString error;
        qint64 bytes = 0;
    };
    // A test hook: the copy may grow to this many pages at most (as a disk that is full after
    // them), so that a full disk can be shown without filling one.
    static constexpr const char* MaxPagesVariable = "QUILLMAR_TEST_BACKUP_MAX_PAGES";
    // The suffix of the temporary name beside the target.
    static QString partialSuffix() { return QStringLiteral(".part"); }

    // Copies `databasePath` to `targetPath` (replaced when it exists). Leaves no temporary
    // file behind on failure.
    static Outcome copy(const QString& databasePath, const QString& targetPath,
                        Method method = Method::PageSteps);
    // PRAGMA integrity_check on the file at `path`, opened read-only: empty when it holds,
    // otherwise the first problems SQLite names (or why it could not be read).
    static QString integrityProblem(const QString& path);
};
