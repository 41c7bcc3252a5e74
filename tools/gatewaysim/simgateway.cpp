#include "simgateway.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Enough for the largest block a recorder reads (125 registers) from register 0.
constexpr int minimumRegisters = 128;

void putWords(quint16* regs, int count, int at, quint32 bits)
{
    // Register at holds the low-order half, at + 1 the high-order half.
    if (at >= 0 && at < count)
        regs[at] = quint16(bits & 0xFFFFu);
    if (at + 1 >= 0 && at + 1 < count)
        regs[at + 1] = quint16(bits >> 16);
}

} // namespace

int SimGateway::registerCount() const
{
    int end = minimumRegisters;
    const int recordLength = hasLinkRegisters() ? 8 : 4;
    for (const SimNode& node : nodes)
        end = std::max(end, node.startRegister + recordLength);
    return end;
}

void SimGateway::fillRegisters(double seconds, quint16* regs, int count) const
{
    std::fill(regs, regs + count, quint16(0));
    // Under one gateway nodes sit four registers apart, so a node's link registers overlap the
    // next node's channels: write all link registers first so that channel values win.
    if (hasLinkRegisters()) {
        for (const SimNode& node : nodes) {
            putWords(regs, count, node.startRegister + 4, quint32(node.lqi));
            putWords(regs, count, node.startRegister + 6, quint32(node.battery));
        }
    }
    for (const SimNode& node : nodes) {
        for (int ch = 0; ch < 2; ++ch) {
            const double wide = node.channel[ch].valueAt(seconds);
            // A finite double beyond the float range has no float value: serve infinity.
            float value = std::numeric_limits<float>::infinity();
            if (!std::isfinite(wide) || std::fabs(wide) <= std::numeric_limits<float>::max())
                value = float(wide);
            else if (wide < 0)
                value = -value;
            quint32 bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            putWords(regs, count, node.startRegister + 2 * ch, bits);
        }
    }
}
