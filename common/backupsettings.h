#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

// Where and when the recorder copies a project's database, and how many copies it keeps, kept
// in the project file under keys of their own starting with "Backup". A file without them (or
// with an empty folder) reads as "backups off". A value that cannot be read reads as its
// default and is listed in keyProblems.
struct BackupSettings
{
    static constexpr int MaxKeep = 1000;

    // An absolute path (another disk, a mounted network share); empty: no backups.
    QString folder;
    QTime timeOfDay = QTime(2, 0);
    int keepDaily = 14;
    int keepMonthly = 24;
    int keepYearly = 10;
    QStringList keyProblems;

    bool enabled() const { return !folder.isEmpty(); }

    static BackupSettings load(const QString& projectPath);
    void save(const QString& projectPath) const;
    // "Backup folder: ...", one line per value, for the audit trail.
    QStringList describe() const;

    // Why the values cannot be saved ("The folder must be an absolute path"); empty when they
    // can.
    QString problem() const;
    // "hh:mm" and back; an invalid time for any other text.
    static QString timeText(const QTime& time);
    static QTime parseTime(const QString& text);
};
