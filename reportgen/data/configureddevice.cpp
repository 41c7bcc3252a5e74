#include "configureddevice.h"

#include "reportdevicerecord.h"

ConfiguredDevice::ConfiguredDevice(QObject* parent) : QObject(parent) {}

ConfiguredDevice::ConfiguredDevice(const ReportDeviceRecord& record, QObject* parent)
    : QObject(parent),
      deviceName(record.deviceName),
      ch1Name(record.ch1Name),
      ch2Name(record.ch2Name),
      deviceNumber(record.deviceNumber),
      ipAddress(record.ipAddress),
      port(record.port),
      deviceType(record.deviceType),
      ch1Min(record.ch1Min),
      ch1Max(record.ch1Max),
      ch2Min(record.ch2Min),
      ch2Max(record.ch2Max),
      ch1Unit(record.ch1Unit),
      ch2Unit(record.ch2Unit),
      ch1Custom(record.ch1Custom),
      ch2Custom(record.ch2Custom)
{
}
