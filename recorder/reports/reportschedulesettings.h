#pragma once

#include <QStringList>
#include <QTime>

// When the recorder makes the project's reports by itself and whom it mails them to, under keys
// of their own in the project file (see the .cpp and the README's "Scheduled reports"). A file
// without them reads as "no report scheduled". The mail server is the notification settings'.
struct ReportScheduleSettings
{
    enum Kind
    {
        Daily,
        Weekly,
        Monthly
    };
    static constexpr int KindCount = 3;
    // The most addresses the list takes.
    static constexpr int MaxRecipients = 50;
    // The day of the month that stands for its last day.
    static constexpr int LastDay = 0;

    struct Entry
    {
        bool enabled = false;
        QTime time = QTime(6, 0);
        // Weekly: 1 (Monday) to 7; monthly: 1 to 28, or LastDay. Unused for daily.
        int day = 1;
    };
    Entry entries[KindCount];
    QStringList recipients;
    // The keys load() could not read (they read as the defaults), for the window to show.
    QStringList keyProblems;

    bool anyEnabled() const;
    bool operator==(const ReportScheduleSettings& other) const;
    bool operator!=(const ReportScheduleSettings& other) const { return !(*this == other); }

    static ReportScheduleSettings load(const QString& projectPath);
    // Writes only these keys; every other key of the file stays as it is.
    void save(const QString& projectPath) const;

    // "daily", "weekly", "monthly" (as Tallyforge's --report takes them) and back.
    static QString kindName(Kind kind);
    static bool kindFromName(const QString& name, Kind* kind);
    // "Daily report", ...
    static QString kindTitle(Kind kind);
    // "Monday" .. "Sunday" for 1..7; "1" .. "28" or "last" for the month.
    static QString weekdayName(int day);
    static QString monthDayText(int day);
    // Why the list cannot be used: "Report recipient address is not valid: <address>" for the
    // first one that is not a plain mailbox (MailAddress), "No report recipients" when a report
    // is on without any; empty when fine.
    QString recipientProblem() const;
};
