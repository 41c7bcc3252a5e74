// Arbitrary register blocks decoded by a gateway whose node layout comes from the same input.
#include "configureddevice.h"
#include "nodedevice.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Layout: model byte, node count byte, then 4 bytes of start register per node, then the
    // block bytes.
    if (size < 2)
        return 0;
    ConfiguredDevice gateway;
    gateway.setDeviceModel((data[0] & 1) ? QStringLiteral("TQ100") : QStringLiteral("TQ700"));
    const size_t nodes = data[1] % 40;
    size_t at = 2;
    for (size_t i = 0; i < nodes && at + 4 <= size; ++i, at += 4) {
        int32_t start;
        std::memcpy(&start, data + at, sizeof start);
        auto* node = new NodeDevice(QString::number(i), &gateway);
        node->setStartAddress(start);
        node->setAlarmRanges(-1, 1, 2, 1);
        gateway.addNode(node);
    }
    const QByteArray block(reinterpret_cast<const char*>(data + at), int(size - at));
    gateway.readData(block);
    gateway.readData(block);
    return 0;
}
