#include "calibrationrecord.h"

#include <cmath>

namespace {

const char* const DateFormat = "yyyy-MM-dd";

bool finiteWithin(double value)
{
    return std::isfinite(value) && std::fabs(value) <= CalibrationRecord::MaxMagnitude;
}

// The earliest and latest dates an entry may name.
const QDate FirstDate(1900, 1, 1);
const QDate LastDate(2999, 12, 31);

bool plausible(const QDate& date)
{
    return date.isValid() && date >= FirstDate && date <= LastDate;
}

} // namespace

bool CalibrationRecord::isOverdueOn(const QDate& day) const
{
    return due.isValid() && day.isValid() && day > due;
}

bool CalibrationRecord::isDueWithin(const QDate& day, int days) const
{
    return due.isValid() && day.isValid() && due <= day.addDays(days);
}

int CalibrationRecord::channelNumber() const
{
    if (column == columnOf(1))
        return 1;
    if (column == columnOf(2))
        return 2;
    return 0;
}

QString CalibrationRecord::columnOf(int channel)
{
    return QStringLiteral("channel") + QString::number(channel);
}

QString CalibrationRecord::dateText(const QDate& date)
{
    return date.toString(QLatin1String(DateFormat));
}

QDate CalibrationRecord::dateFromText(const QString& text)
{
    // Exactly ten characters: "2026-1-5" or trailing text is not a date the table keeps.
    if (text.size() != 10)
        return QDate();
    return QDate::fromString(text, QLatin1String(DateFormat));
}

QString CalibrationRecord::problem() const
{
    const auto tooLong = [](const QString& what, int max) -> QString {
        return what + QStringLiteral(" is longer than %1 characters.").arg(max);
    };
    if (serial.trimmed().isEmpty())
        return QStringLiteral("The node's serial number is missing.");
    if (serial.size() > MaxSerial)
        return tooLong(QStringLiteral("The serial number"), MaxSerial);
    if (channelNumber() == 0)
        return QStringLiteral("The channel is neither channel1 nor channel2.");
    if (certificate.trimmed().isEmpty())
        return QStringLiteral("The certificate number is missing.");
    if (certificate.size() > MaxCertificate)
        return tooLong(QStringLiteral("The certificate number"), MaxCertificate);
    if (laboratory.trimmed().isEmpty())
        return QStringLiteral("The laboratory is missing.");
    if (laboratory.size() > MaxText)
        return tooLong(QStringLiteral("The laboratory"), MaxText);
    if (reference.size() > MaxText)
        return tooLong(QStringLiteral("The reference instrument"), MaxText);
    if (enteredBy.size() > MaxText)
        return tooLong(QStringLiteral("The name of who entered it"), MaxText);
    if (certificateFile.size() > MaxFilePath)
        return tooLong(QStringLiteral("The certificate file's path"), MaxFilePath);
    if (!plausible(calibrated))
        return QStringLiteral("The calibration date is not a date between 1900 and 2999.");
    if (!plausible(due))
        return QStringLiteral("The due date is not a date between 1900 and 2999.");
    if (due <= calibrated)
        return QStringLiteral("The due date is not after the calibration date.");
    if ((asFound && !finiteWithin(*asFound)) || (asLeft && !finiteWithin(*asLeft)))
        return QStringLiteral("An error found or left is not a number within %1.")
            .arg(MaxMagnitude, 0, 'f', 0);
    if (!finiteWithin(uncertainty) || uncertainty < 0)
        return QStringLiteral("The uncertainty is not a number from 0 to %1.")
            .arg(MaxMagnitude, 0, 'f', 0);
    return QString();
}
