#include "backupretention.h"

#include <QMap>
#include <QSet>

#include <algorithm>

namespace {

const QString DateFormat = QStringLiteral("yyyy-MM-dd");
const QString Suffix = QStringLiteral(".dat");

} // namespace

QString BackupRetention::fileName(const QString& projectName, const QDate& date)
{
    return projectName + QLatin1Char('-') + date.toString(DateFormat) + Suffix;
}

QDate BackupRetention::dateOf(const QString& projectName, const QString& fileName)
{
    const int prefix = projectName.size() + 1;
    if (fileName.size() != prefix + DateFormat.size() + Suffix.size() ||
        !fileName.startsWith(projectName + QLatin1Char('-')) || !fileName.endsWith(Suffix))
        return QDate();
    const QStringRef text = fileName.midRef(prefix, DateFormat.size());
    // Digits only: fromString takes "2026-1-05" for a date in some forms.
    for (int i = 0; i < text.size(); ++i)
        if ((i == 4 || i == 7) ? text.at(i) != QLatin1Char('-') : !text.at(i).isDigit())
            return QDate();
    return QDate::fromString(text.toString(), DateFormat);
}

QStringList BackupRetention::toDelete(const QString& projectName, const QStringList& fileNames,
                                      int daily, int monthly, int yearly)
{
    // Newest first; a date appears once (the name is made of it).
    QMap<QDate, QString> copies;
    for (const QString& name : fileNames) {
        const QDate date = dateOf(projectName, name);
        if (date.isValid())
            copies.insert(date, name);
    }
    QList<QDate> dates = copies.keys();
    std::reverse(dates.begin(), dates.end());

    QSet<QDate> kept;
    for (int i = 0; i < dates.size() && i < daily; ++i)
        kept.insert(dates.at(i));
    // The first copy of each month and year: walking from the oldest, the first one seen.
    QMap<int, QDate> firstOfMonth;
    QMap<int, QDate> firstOfYear;
    for (auto it = dates.crbegin(); it != dates.crend(); ++it) {
        const int month = it->year() * 12 + it->month() - 1;
        if (!firstOfMonth.contains(month))
            firstOfMonth.insert(month, *it);
        if (!firstOfYear.contains(it->year()))
            firstOfYear.insert(it->year(), *it);
    }
    const QList<QDate> months = firstOfMonth.values();
    for (int i = 0; i < monthly && i < months.size(); ++i)
        kept.insert(months.at(months.size() - 1 - i));
    const QList<QDate> years = firstOfYear.values();
    for (int i = 0; i < yearly && i < years.size(); ++i)
        kept.insert(years.at(years.size() - 1 - i));

    QStringList deleted;
    for (const QDate& date : qAsConst(dates))
        if (!kept.contains(date))
            deleted << copies.value(date);
    return deleted;
}
