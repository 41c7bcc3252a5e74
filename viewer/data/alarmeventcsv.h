#pragma once

#include "alarmeventrecord.h"
#include "reportdevicerecord.h"

#include <QByteArray>
#include <QList>
#include <QVector>

class QIODevice;

// Writes alarm events as CSV with the conventions of the samples' export (RFC 4180, UTF-8,
// CRLF): a header, then one row per event in ascending start. Every time is given twice, as
// local time "yyyy-MM-dd hh:mm:ss" and as Unix seconds; a cell is empty where the event has no
// such value (an active event's end, an alarm without a limit, one not acknowledged).
class AlarmEventCsv
{
public:
    // The project's nodes give the node and channel names.
    explicit AlarmEventCsv(const QList<ReportDeviceRecord>& devices = {});

    static QByteArray header();
    QByteArray row(const AlarmEventRecord& event) const;
    // False, with error(), when the device refuses the bytes.
    bool write(const QVector<AlarmEventRecord>& events, QIODevice* out);
    QString error() const { return m_error; }

private:
    QList<ReportDeviceRecord> m_devices;
    QString m_error;
};
