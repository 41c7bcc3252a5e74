#include "reportcsvcell.h"

#include "auditcsv.h"
#include "novalue.h"
#include "valuetext.h"

#include <QDateTime>

#include <cmath>

ReportCsvCell::ReportCsvCell(Kind kind, const QString& value) : m_kind(kind), m_value(value) {}

ReportCsvCell ReportCsvCell::number(double value)
{
    if (value == NoValue)
        return ReportCsvCell();
    // "inf" and "nan" are no numbers to a spreadsheet; "-inf" would read as a formula.
    if (!std::isfinite(value))
        return text(valueText(value));
    return ReportCsvCell(Kind::Number, valueText(value));
}

ReportCsvCell ReportCsvCell::count(qint64 value)
{
    return ReportCsvCell(Kind::Number, QString::number(value));
}

ReportCsvCell ReportCsvCell::text(const QString& text)
{
    return text.isEmpty() ? ReportCsvCell() : ReportCsvCell(Kind::Text, text);
}

ReportCsvCell ReportCsvCell::time(qint64 secs)
{
    return ReportCsvCell(Kind::Time, QDateTime::fromSecsSinceEpoch(secs).toString(
                                         QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

QString ReportCsvCell::field() const
{
    // Numbers and times are ours; a negative number stays a number.
    return m_kind == Kind::Text ? AuditCsv::textField(m_value) : m_value;
}
