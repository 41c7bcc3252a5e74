#pragma once

#include "reportdevicerecord.h"

#include <QObject>

// The report generator's record of one sensor node, with its gateway's address and port: the
// fields of the record the project file gives, on an object the report window can own.
class ConfiguredDevice : public QObject, public ReportDeviceRecord
{
    Q_OBJECT

public:
    explicit ConfiguredDevice(QObject* parent = nullptr);
    ConfiguredDevice(const ReportDeviceRecord& record, QObject* parent = nullptr);
};
