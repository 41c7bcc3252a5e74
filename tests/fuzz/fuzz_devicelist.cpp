// Arbitrary bytes as the "DeviceList" document of a project file, through both readers.
#include "projectfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                        int(size));
    QList<GatewayConfig> gateways;
    if (ProjectFile::parseDeviceList(document, &gateways)) {
        // What was read must survive a save and a second read unchanged in shape.
        QList<GatewayConfig> again;
        if (!ProjectFile::parseDeviceList(ProjectFile::deviceListDocument(gateways), &again) ||
            again.size() != gateways.size())
            __builtin_trap();
    }
    QList<ReportDeviceRecord> records;
    ProjectFile::parseReportDevices(document, &records);
    return 0;
}
