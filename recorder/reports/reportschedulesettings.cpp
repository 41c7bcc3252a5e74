#include "reportschedulesettings.h"

#include "mailaddress.h"
#include "notificationsettings.h"
#include "projectkeyreader.h"

#include <QSettings>

namespace {

// The keys, at the top level of the project file like the others. Per kind: on (0/1), the
// time (hh:mm, local) and, weekly and monthly, the day.
const char* const KeyEnabled[] = {"ReportScheduleDaily", "ReportScheduleWeekly",
                                  "ReportScheduleMonthly"};
const char* const KeyTime[] = {"ReportScheduleDailyTime", "ReportScheduleWeeklyTime",
                               "ReportScheduleMonthlyTime"};
const char* const KeyDay[] = {nullptr, "ReportScheduleWeeklyDay", "ReportScheduleMonthlyDay"};
const QString KeyRecipients = QStringLiteral("ReportScheduleRecipients");

const char* const Weekdays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                "Friday", "Saturday", "Sunday"};

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

bool readFlag(const ProjectKeyReader& s, const QString& k, bool fallback, QStringList* problems)
{
    if (!s.contains(k))
        return fallback;
    const QString text = s.text(k).trimmed();
    if (text == QLatin1String("0") || text == QLatin1String("1"))
        return text == QLatin1String("1");
    problems->append(k + QStringLiteral(": not 0 or 1, off used"));
    return false;
}

QTime readTime(const ProjectKeyReader& s, const QString& k, const QTime& fallback,
               QStringList* problems)
{
    if (!s.contains(k))
        return fallback;
    const QString text = s.text(k).trimmed();
    const QTime time =
        text.size() == 5 ? QTime::fromString(text, QStringLiteral("hh:mm")) : QTime();
    if (time.isValid())
        return time;
    problems->append(k + QStringLiteral(": not a time hh:mm, %1 used")
                             .arg(fallback.toString(QStringLiteral("hh:mm"))));
    return fallback;
}

int readWeekday(const ProjectKeyReader& s, const QString& k, int fallback, QStringList* problems)
{
    if (!s.contains(k))
        return fallback;
    const QString text = s.text(k).trimmed();
    for (int d = 1; d <= 7; ++d) {
        if (text.compare(QLatin1String(Weekdays[d - 1]), Qt::CaseInsensitive) == 0 ||
            text == QString::number(d))
            return d;
    }
    problems->append(k + QStringLiteral(": not a weekday (Monday to Sunday), %1 used")
                             .arg(ReportScheduleSettings::weekdayName(fallback)));
    return fallback;
}

int readMonthDay(const ProjectKeyReader& s, const QString& k, int fallback, QStringList* problems)
{
    if (!s.contains(k))
        return fallback;
    const QString text = s.text(k).trimmed();
    if (text.compare(QLatin1String("last"), Qt::CaseInsensitive) == 0)
        return ReportScheduleSettings::LastDay;
    bool ok = false;
    const int day = text.toInt(&ok);
    if (ok && day >= 1 && day <= 28)
        return day;
    problems->append(k + QStringLiteral(": not a day from 1 to 28 or \"last\", %1 used")
                             .arg(ReportScheduleSettings::monthDayText(fallback)));
    return fallback;
}

} // namespace

bool ReportScheduleSettings::anyEnabled() const
{
    for (const Entry& e : entries) {
        if (e.enabled)
            return true;
    }
    return false;
}

bool ReportScheduleSettings::operator==(const ReportScheduleSettings& other) const
{
    for (int k = 0; k < KindCount; ++k) {
        const Entry& a = entries[k];
        const Entry& b = other.entries[k];
        if (a.enabled != b.enabled || a.time != b.time || (k != Daily && a.day != b.day))
            return false;
    }
    return recipients == other.recipients;
}

ReportScheduleSettings ReportScheduleSettings::load(const QString& projectPath)
{
    const ProjectKeyReader s(projectPath);
    ReportScheduleSettings r;
    QStringList problems;
    for (int k = 0; k < KindCount; ++k) {
        Entry& e = r.entries[k];
        e.enabled = readFlag(s, key(KeyEnabled[k]), false, &problems);
        e.time = readTime(s, key(KeyTime[k]), e.time, &problems);
        if (k == Weekly)
            e.day = readWeekday(s, key(KeyDay[k]), e.day, &problems);
        else if (k == Monthly)
            e.day = readMonthDay(s, key(KeyDay[k]), e.day, &problems);
    }
    const QStringList listed =
        NotificationSettings::parseAddresses(s.items(KeyRecipients).join(QStringLiteral(", ")));
    for (const QString& address : listed) {
        if (!MailAddress::isValid(address)) {
            problems.append(KeyRecipients + QStringLiteral(": not a valid address, left out: ") +
                            address.left(80));
        } else if (r.recipients.size() >= MaxRecipients) {
            problems.append(KeyRecipients + QStringLiteral(": more than %1 addresses, the rest "
                                                           "left out")
                                                .arg(MaxRecipients));
            break;
        } else if (!r.recipients.contains(address, Qt::CaseInsensitive)) {
            r.recipients << address;
        }
    }
    r.keyProblems = s.problems() + problems;
    return r;
}

void ReportScheduleSettings::save(const QString& projectPath) const
{
    QSettings s(projectPath, QSettings::IniFormat);
    for (int k = 0; k < KindCount; ++k) {
        const Entry& e = entries[k];
        s.setValue(key(KeyEnabled[k]), int(e.enabled));
        s.setValue(key(KeyTime[k]), e.time.toString(QStringLiteral("hh:mm")));
        if (k == Weekly)
            s.setValue(key(KeyDay[k]), weekdayName(e.day));
        else if (k == Monthly)
            s.setValue(key(KeyDay[k]), monthDayText(e.day));
    }
    s.setValue(KeyRecipients, recipients.join(QStringLiteral(", ")));
}

QString ReportScheduleSettings::kindName(Kind kind)
{
    switch (kind) {
    case Daily:
        return QStringLiteral("daily");
    case Weekly:
        return QStringLiteral("weekly");
    case Monthly:
        return QStringLiteral("monthly");
    }
    return QString();
}

bool ReportScheduleSettings::kindFromName(const QString& name, Kind* kind)
{
    for (int k = 0; k < KindCount; ++k) {
        if (kindName(Kind(k)) == name) {
            *kind = Kind(k);
            return true;
        }
    }
    return false;
}

QString ReportScheduleSettings::kindTitle(Kind kind)
{
    switch (kind) {
    case Daily:
        return QStringLiteral("Daily report");
    case Weekly:
        return QStringLiteral("Weekly report");
    case Monthly:
        return QStringLiteral("Monthly report");
    }
    return QString();
}

QString ReportScheduleSettings::weekdayName(int day)
{
    return day >= 1 && day <= 7 ? QLatin1String(Weekdays[day - 1]) : QString();
}

QString ReportScheduleSettings::monthDayText(int day)
{
    return day == LastDay ? QStringLiteral("last") : QString::number(day);
}

QString ReportScheduleSettings::recipientProblem() const
{
    for (const QString& address : recipients) {
        if (!MailAddress::isValid(address))
            return QStringLiteral("Report recipient address is not valid: ") + address;
    }
    if (anyEnabled() && recipients.isEmpty())
        return QStringLiteral("No report recipients");
    return QString();
}
