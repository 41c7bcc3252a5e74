#include "configureddevice.h"

ConfiguredDevice::ConfiguredDevice(QObject* parent) : QObject(parent) {}

ConfiguredDevice::ConfiguredDevice(const ReportDeviceRecord& record, QObject* parent)
    : QObject(parent), ReportDeviceRecord(record)
{
}
