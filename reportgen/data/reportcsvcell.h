#pragma once

#include <QString>

// One cell of a report's CSV: a number (written as a number, dot decimals whatever the locale),
// a text (hostile: never run by a spreadsheet as a formula), a local time, or nothing.
class ReportCsvCell
{
public:
    enum class Kind
    {
        None,
        Number,
        Text,
        Time
    };

    ReportCsvCell() = default;
    // A figure as the page shows it (two decimals, huge ones with an exponent); NoValue is none.
    static ReportCsvCell number(double value);
    // A whole number (a count, seconds).
    static ReportCsvCell count(qint64 value);
    static ReportCsvCell text(const QString& text);
    // Seconds since 1970 UTC, written as local "yyyy-MM-dd hh:mm:ss".
    static ReportCsvCell time(qint64 secs);

    Kind kind() const { return m_kind; }
    // The cell's text before quoting: what a reader of the file sees.
    const QString& value() const { return m_value; }
    // The cell as one field of a CSV line.
    QString field() const;

private:
    ReportCsvCell(Kind kind, const QString& value);

    Kind m_kind = Kind::None;
    QString m_value;
};
