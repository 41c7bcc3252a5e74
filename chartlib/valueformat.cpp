#include "valueformat.h"

#include "chartdefs.h"
#include "charttime.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

// 0001-01-01 as a Julian day: chart time counts seconds from its midnight.
constexpr qint64 ChartEpochJulianDay = 1721426;

bool isNoValue(double v)
{
    return !(std::fabs(v) < Chart::NoValue * 0.5);
}

} // namespace

QString ValueFormat::formatTemplate(const QString& tmpl, double value, bool dateByDefault,
                                    int utcOffset)
{
    if (!tmpl.contains(QLatin1Char('{')))
        return formatPattern(value, tmpl, utcOffset);
    QString out;
    int pos = 0;
    while (pos < tmpl.size()) {
        const int open = tmpl.indexOf(QLatin1Char('{'), pos);
        if (open < 0) {
            out += tmpl.midRef(pos);
            break;
        }
        const int close = tmpl.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            out += tmpl.midRef(pos);
            break;
        }
        out += tmpl.midRef(pos, open - pos);
        const QString field = tmpl.mid(open + 1, close - open - 1);
        const int bar = field.indexOf(QLatin1Char('|'));
        const QString name = (bar < 0 ? field : field.left(bar)).trimmed();
        if (name == QLatin1String("value")) {
            if (bar >= 0)
                out += formatPattern(value, field.mid(bar + 1), utcOffset);
            else if (dateByDefault)
                out += formatDate(value, QStringLiteral("yyyy-mm-dd hh:nn:ss"), utcOffset);
            else
                out += formatForStep(value, 0.01);
        } else {
            out += tmpl.midRef(open, close - open + 1);
        }
        pos = close + 1;
    }
    return out;
}

bool ValueFormat::isDatePattern(const QString& pattern)
{
    for (const QChar c : pattern) {
        switch (c.unicode()) {
        case 'y':
        case 'm':
        case 'd':
        case 'h':
        case 'n':
        case 's':
            return true;
        default:
            break;
        }
    }
    return false;
}

QString ValueFormat::formatPattern(double value, const QString& pattern, int utcOffset)
{
    return isDatePattern(pattern) ? formatDate(value, pattern, utcOffset)
                                  : formatNumber(value, pattern);
}

QString ValueFormat::formatDate(double chartTime, const QString& pattern, int utcOffset)
{
    if (isNoValue(chartTime) || !std::isfinite(chartTime))
        return QString();
    // Written in local time, as every clock the user sees is: the local reading counted, like
    // chart time, in seconds from 0001-01-01 00:00:00.
    const double reading =
        chartTime + (utcOffset == OffsetAtValue ? ChartTime::localOffset(chartTime) : utcOffset);
    // Rounded to milliseconds first so that 12:00:00.9999 does not print as 11:59:59.
    const double ms = std::round(reading * 1000.0);
    const double days = std::floor(ms / 86400000.0);
    const qint64 msOfDay = qint64(ms - days * 86400000.0);
    const QDate date = QDate::fromJulianDay(ChartEpochJulianDay + qint64(days));
    const int hour = int(msOfDay / 3600000);
    const int minute = int(msOfDay / 60000 % 60);
    const int second = int(msOfDay / 1000 % 60);
    const int milli = int(msOfDay % 1000);

    QString out;
    int i = 0;
    const auto runOf = [&](QChar c) {
        int n = 0;
        while (i + n < pattern.size() && pattern.at(i + n) == c)
            ++n;
        return n;
    };
    const auto two = [](int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    while (i < pattern.size()) {
        const QChar c = pattern.at(i);
        const int n = runOf(c);
        switch (c.unicode()) {
        case 'y':
            out += n >= 4 ? QString::number(date.year()).rightJustified(4, QLatin1Char('0'))
                          : two(date.year() % 100);
            break;
        case 'm':
            if (n >= 3)
                out += QLocale::c().monthName(date.month(), QLocale::ShortFormat);
            else
                out += n == 2 ? two(date.month()) : QString::number(date.month());
            break;
        case 'd':
            out += n >= 2 ? two(date.day()) : QString::number(date.day());
            break;
        case 'h':
            out += n >= 2 ? two(hour) : QString::number(hour);
            break;
        case 'n':
            out += n >= 2 ? two(minute) : QString::number(minute);
            break;
        case 's':
            out += n >= 2 ? two(second) : QString::number(second);
            break;
        case 'f':
            out += QString::number(milli).rightJustified(3, QLatin1Char('0')).left(qMin(n, 3));
            break;
        default:
            out += QString(n, c);
            break;
        }
        i += n;
    }
    return out;
}

QString ValueFormat::formatNumber(double value, const QString& pattern)
{
    if (isNoValue(value) || !std::isfinite(value))
        return QString();
    int i = 0;
    while (i < pattern.size() && pattern.at(i).isDigit())
        ++i;
    const int decimals = i > 0 ? qBound(0, pattern.left(i).toInt(), 12) : 2;
    const QString seps = pattern.mid(i);
    QChar thousands;
    QChar point = QLatin1Char('.');
    if (seps.size() == 1) {
        point = seps.at(0);
    } else if (seps.size() >= 2) {
        thousands = seps.at(0);
        point = seps.at(1);
    }
    QString text = QString::number(std::fabs(value), 'f', decimals);
    const bool negative = value < 0 && text.contains(QRegularExpression(QStringLiteral("[1-9]")));
    QString intPart = text.section(QLatin1Char('.'), 0, 0);
    const QString fracPart = decimals > 0 ? text.section(QLatin1Char('.'), 1, 1) : QString();
    if (!thousands.isNull()) {
        for (int pos = intPart.size() - 3; pos > 0; pos -= 3)
            intPart.insert(pos, thousands);
    }
    QString out = negative ? QStringLiteral("-") : QString();
    out += intPart;
    if (decimals > 0)
        out += point + fracPart;
    return out;
}

QString ValueFormat::formatForStep(double value, double step)
{
    if (isNoValue(value) || !std::isfinite(value))
        return QString();
    int decimals = 0;
    double s = std::fabs(step);
    while (decimals < 6 && s > 0 && std::fabs(s - std::round(s)) > 1e-9 * qMax(1.0, s)) {
        s *= 10.0;
        ++decimals;
    }
    return formatNumber(value, QString::number(decimals));
}
