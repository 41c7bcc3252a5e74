#pragma once

#include <QDate>
#include <QMetaType>
#include <QString>

#include <optional>

// One entry of a channel's calibration register: a certificate of a laboratory saying how far
// the sensor read off before and after its adjustment, and when it is due again. Dates are
// local calendar dates; numbers are in the channel's unit. An entry is never changed: a newer
// one supersedes it.
struct CalibrationRecord
{
    // Bounds of what is kept (characters); a longer text is refused, never cut.
    static constexpr int MaxSerial = 64;
    static constexpr int MaxCertificate = 100;
    static constexpr int MaxText = 200; // laboratory, reference instrument, who entered it
    static constexpr int MaxFilePath = 1024;
    // The largest magnitude a deviation or uncertainty may have, in any unit.
    static constexpr double MaxMagnitude = 1.0e6;

    qint64 id = 0;
    QString serial;
    QString column; // "channel1" or "channel2"
    QString certificate;
    QString laboratory;
    QDate calibrated;
    QDate due;
    QString reference; // the reference instrument
    std::optional<double> asFound;
    std::optional<double> asLeft;
    double uncertainty = 0.0;
    QString certificateFile; // kept as a path only, never opened
    QString enteredBy;
    qint64 enteredAt = 0;   // seconds since 1970 UTC
    qint64 signatureId = 0; // 0: recorded unsigned

    bool isOverdueOn(const QDate& day) const;
    // Whether the due date is on or before `day` + `days` (overdue included).
    bool isDueWithin(const QDate& day, int days) const;
    // "" when every field is within its bounds, otherwise a sentence saying which is not.
    QString problem() const;
    // 1 or 2 for "channel1"/"channel2", 0 otherwise.
    int channelNumber() const;
    static QString columnOf(int channel);

    // The text form of a date as the table keeps it, and back (an invalid date for any other
    // text).
    static QString dateText(const QDate& date);
    static QDate dateFromText(const QString& text);
};

Q_DECLARE_METATYPE(CalibrationRecord)
