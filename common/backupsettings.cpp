#include "backupsettings.h"

#include "projectkeyreader.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>

namespace {

const QString KeyFolder = QStringLiteral("BackupFolder");
const QString KeyTime = QStringLiteral("BackupTime");
const QString KeyDaily = QStringLiteral("BackupKeepDaily");
const QString KeyMonthly = QStringLiteral("BackupKeepMonthly");
const QString KeyYearly = QStringLiteral("BackupKeepYearly");

// Copies from 0 to MaxKeep (daily from 1: the newest copy is never deleted by its own run).
int count(const ProjectKeyReader& settings, const QString& key, int fallback, int least,
          QStringList* problems)
{
    if (!settings.contains(key))
        return fallback;
    bool ok = false;
    const int value = settings.text(key).trimmed().toInt(&ok);
    if (ok && value >= least && value <= BackupSettings::MaxKeep)
        return value;
    problems->append(key + QStringLiteral(": not a number from %1 to %2, %3 used")
                               .arg(least)
                               .arg(BackupSettings::MaxKeep)
                               .arg(fallback));
    return fallback;
}

} // namespace

BackupSettings BackupSettings::load(const QString& projectPath)
{
    const ProjectKeyReader s(projectPath);
    BackupSettings settings;
    const QString folder = s.text(KeyFolder).trimmed();
    if (!folder.isEmpty() && !QDir::isAbsolutePath(folder))
        settings.keyProblems << KeyFolder + QStringLiteral(": not an absolute path, backups off");
    else
        settings.folder = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
    if (s.contains(KeyTime)) {
        const QTime time = parseTime(s.text(KeyTime));
        if (time.isValid())
            settings.timeOfDay = time;
        else
            settings.keyProblems << KeyTime + QStringLiteral(": not a time hh:mm, %1 used")
                                                  .arg(timeText(settings.timeOfDay));
    }
    settings.keepDaily = count(s, KeyDaily, settings.keepDaily, 1, &settings.keyProblems);
    settings.keepMonthly = count(s, KeyMonthly, settings.keepMonthly, 0, &settings.keyProblems);
    settings.keepYearly = count(s, KeyYearly, settings.keepYearly, 0, &settings.keyProblems);
    return settings;
}

void BackupSettings::save(const QString& projectPath) const
{
    QSettings s(projectPath, QSettings::IniFormat);
    s.setValue(KeyFolder, folder);
    s.setValue(KeyTime, timeText(timeOfDay));
    s.setValue(KeyDaily, keepDaily);
    s.setValue(KeyMonthly, keepMonthly);
    s.setValue(KeyYearly, keepYearly);
}

QStringList BackupSettings::describe() const
{
    return {QStringLiteral("Backup folder: ") +
                (folder.isEmpty() ? QStringLiteral("(none, backups off)") : folder),
            QStringLiteral("Backup time: ") + timeText(timeOfDay),
            QStringLiteral("Backups kept: %1 daily, %2 monthly, %3 yearly")
                .arg(keepDaily)
                .arg(keepMonthly)
                .arg(keepYearly)};
}

QString BackupSettings::problem() const
{
    if (!folder.isEmpty() && !QDir::isAbsolutePath(folder))
        return QStringLiteral("The backup folder must be an absolute path");
    if (!timeOfDay.isValid())
        return QStringLiteral("The backup time is not a time of day");
    if (keepDaily < 1 || keepDaily > MaxKeep || keepMonthly < 0 || keepMonthly > MaxKeep ||
        keepYearly < 0 || keepYearly > MaxKeep)
        return QStringLiteral("Copies kept: daily 1 to %1, monthly and yearly 0 to %1")
            .arg(MaxKeep);
    return QString();
}

QString BackupSettings::timeText(const QTime& time)
{
    return time.toString(QStringLiteral("hh:mm"));
}

QTime BackupSettings::parseTime(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return QTime();
    return QTime(match.captured(1).toInt(), match.captured(2).toInt());
}
