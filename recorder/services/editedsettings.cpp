#include "editedsettings.h"

#include "auditlookup.h"
#include "audittrail.h"
#include "projectaudit.h"
#include "projectfile.h"
#include "projectfilecopy.h"
#include "sqliteconnection.h"
#include "userchaincheck.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <limits>
#include <optional>

namespace {

// False only when the users cannot be read: a project whose trail is damaged is treated as
// one under access control, so that edits still wait for a person.
bool accessControlOn(const QString& database, bool* on, QString* error)
{
    *on = false;
    if (!QFileInfo::exists(database))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(database, 5000)) {
        *error = connection.errorText();
        return false;
    }
    UserChainCheck check;
    if (!check.load(connection.get(), error))
        return false;
    *on = check.accessControlOn();
    return true;
}

} // namespace

QByteArray EditedSettings::withoutSecrets(const QByteArray& text)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines) {
        const int equals = line.indexOf('=');
        const QByteArray start = line.trimmed().left(1);
        if (equals <= 0 || start == "[" || start == ";" || start == "#")
            continue;
        if (SettingsSnapshot::looksSecret(QString::fromUtf8(line.left(equals).trimmed())))
            line = line.left(equals + 1);
    }
    return lines.join('\n');
}

SettingsSnapshot EditedSettings::settingsOf(const QByteArray& text)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return SettingsSnapshot();
    const QString path = dir.filePath(QStringLiteral("copy.tpc"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return SettingsSnapshot();
    file.close();
    return SettingsSnapshot::read(path);
}

bool EditedSettings::acceptedCopy(const QString& projectPath, QByteArray* text, QString* why)
{
    const QString database = ProjectFile::databasePath(projectPath);
    QString error;
    std::optional<AuditEntry> accepted;
    if (!AuditLookup::latest(database, {ProjectAudit::settingsAcceptedAction()},
                             std::numeric_limits<qint64>::max(), &accepted, &error)) {
        *why = QStringLiteral("the audit trail cannot be read (") + error + QLatin1Char(')');
        return false;
    }
    if (!accepted) {
        *why = QStringLiteral("no settings were accepted yet");
        return false;
    }
    std::optional<AuditEntry> kept;
    if (!AuditLookup::latest(database, {ProjectFileCopy::keptAction()}, accepted->sequence, &kept,
                             &error)) {
        *why = QStringLiteral("the audit trail cannot be read (") + error + QLatin1Char(')');
        return false;
    }
    if (!kept) {
        *why = QStringLiteral("no copy of the accepted project file is kept yet");
        return false;
    }
    if (AuditTrail::hashOf(*kept) != kept->hash) {
        *why = QStringLiteral("the audit entry keeping the accepted copy fails its check");
        return false;
    }
    std::optional<QByteArray> copy;
    if (!ProjectFileCopy::read(database, kept->sequence, &copy, &error)) {
        *why = QStringLiteral("the accepted copy cannot be read (") + error + QLatin1Char(')');
        return false;
    }
    if (!copy) {
        *why = QStringLiteral("the accepted copy is missing from the database");
        return false;
    }
    if (ProjectFileCopy::describe(*copy) != kept->newValue) {
        *why = QStringLiteral("the accepted copy was changed in the database and is refused");
        return false;
    }
    SettingsSnapshot settings;
    if (!SettingsSnapshot::fromText(accepted->newValue.toUtf8(), &settings) ||
        settingsOf(*copy) != settings) {
        *why = QStringLiteral("the kept copy does not hold the accepted settings");
        return false;
    }
    *text = *copy;
    return true;
}

QString EditedSettings::freeName(const QString& path, const QString& suffix)
{
    QString name = path + suffix;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = path + suffix + QLatin1Char('.') + QString::number(n);
    return name;
}

bool EditedSettings::replace(const QString& projectPath, const QByteArray& text, QString* error)
{
    const ProjectFile before(projectPath);
    const QString start = before.recordStartTime();
    const QString stop = before.recordStopTime();
    const QString subject = before.reportSubject();
    const QString author = before.reportAuthor();
    QSaveFile file(projectPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    const ProjectFile after(projectPath);
    if (after.recordStartTime() != start)
        after.saveRecordStartTime(start);
    if (after.recordStopTime() != stop)
        after.saveRecordStopTime(stop);
    if (after.reportSubject() != subject || after.reportAuthor() != author)
        after.saveReportTexts(subject, author);
    return true;
}

EditedSettings::Outcome EditedSettings::prepare(const QString& projectPath)
{
    Outcome outcome;
    const QString database = ProjectFile::databasePath(projectPath);
    if (!QFileInfo::exists(database))
        return outcome;
    QString error;
    // The users are read only where something differs: opening an unchanged project stays
    // quick however long its trail.
    const auto underAccessControl = [&] {
        if (!accessControlOn(database, &outcome.accessControl, &error)) {
            outcome.accessControl = true;
            outcome.problem =
                QStringLiteral("the users cannot be checked (") + error + QLatin1Char(')');
            return false;
        }
        return outcome.accessControl;
    };

    std::optional<AuditEntry> accepted;
    if (!AuditLookup::latest(database, {ProjectAudit::settingsAcceptedAction()},
                             std::numeric_limits<qint64>::max(), &accepted, &error)) {
        if (underAccessControl())
            outcome.problem =
                QStringLiteral("the audit trail cannot be read (") + error + QLatin1Char(')');
        return outcome;
    }
    SettingsSnapshot last;
    if (!accepted || !SettingsSnapshot::fromText(accepted->newValue.toUtf8(), &last)) {
        underAccessControl();
        return outcome;
    }
    if (last == SettingsSnapshot::read(projectPath)) {
        // An edited file set aside before and neither accepted nor rejected waits on; the
        // newest of them is offered.
        const QFileInfo project(projectPath);
        const QString base = project.fileName() + editedSuffix();
        const QFileInfoList asides = project.dir().entryInfoList(
            {base, base + QStringLiteral(".*")}, QDir::Files, QDir::Time);
        for (const QFileInfo& aside : asides) {
            const SettingsSnapshot edited = SettingsSnapshot::read(aside.filePath());
            if (!edited.isEmpty() && edited != last) {
                if (underAccessControl())
                    outcome.asidePath = aside.filePath();
                break;
            }
        }
        return outcome;
    }
    if (!underAccessControl())
        return outcome;

    QByteArray copy;
    if (!acceptedCopy(projectPath, &copy, &outcome.problem))
        return outcome;
    const QString aside = freeName(projectPath, editedSuffix());
    if (!QFile::copy(projectPath, aside)) {
        outcome.problem = QStringLiteral("the edited file cannot be set aside");
        return outcome;
    }
    if (!replace(projectPath, copy, &error)) {
        // The edited file is still in its place: the copy set aside is not needed.
        QFile::remove(aside);
        outcome.problem =
            QStringLiteral("the accepted file cannot be put back (") + error + QLatin1Char(')');
        return outcome;
    }
    outcome.asidePath = aside;
    qWarning().noquote() << QStringLiteral("EditedSettings : settings edited outside the recorder "
                                           "set aside as ") +
                                aside;
    return outcome;
}
