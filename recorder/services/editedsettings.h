#pragma once

#include "settingssnapshot.h"

#include <QByteArray>
#include <QString>

// Settings edited by hand in a project file while the recorder was closed. Under access control
// they are not applied: before the project opens, the edited file is set aside beside the
// project ("NAME.tpc.edited") and the file whose settings were last accepted is put back from
// the copy the database keeps (ProjectFileCopy), once that copy passes its check against the
// audit trail. A Supervisor then accepts or rejects what was set aside (ProjectAudit records
// either). Without access control nothing is set aside.
class EditedSettings
{
public:
    // What was found before the project opened.
    struct Outcome
    {
        // Read only where the file differs from the accepted settings (false otherwise).
        bool accessControl = false;
        // The edited file, set aside; empty when nothing was.
        QString asidePath;
        // Why the edited file runs as found although it differs from the accepted settings.
        QString problem;
    };

    static QString editedSuffix() { return QStringLiteral(".edited"); }
    static QString rejectedSuffix() { return QStringLiteral(".rejected"); }

    // Before the recorder opens the existing project at `projectPath`.
    static Outcome prepare(const QString& projectPath);

    // The project file's text whose settings the trail last accepted, checked: the entry that
    // keeps it is intact and carries the copy's SHA-256, and the copy holds those settings.
    // False with the reason (for people) when there is none to trust.
    static bool acceptedCopy(const QString& projectPath, QByteArray* text, QString* why);

    // A name beside `path` that no file has: "PATH" + suffix, then "PATH" + suffix + ".2", ...
    static QString freeName(const QString& path, const QString& suffix);
    // Writes `text` in the place of the project file, keeping what the file holds about its
    // recordings and reports (not settings). False with the reason.
    static bool replace(const QString& projectPath, const QByteArray& text, QString* error);
    // The text as the database keeps it: the value of every key named like a secret (written
    // in by hand; the recorder keeps none in the file) left out. Its settings are the same.
    static QByteArray withoutSecrets(const QByteArray& text);
    // The settings of a project file's text.
    static SettingsSnapshot settingsOf(const QByteArray& text);
};
