#include "datainterval.h"

namespace {
constexpr int kIntervals[] = {1000, 5000, 10000, 60000, 300000, 600000};
}

QString intervalName(int milliseconds)
{
    switch (milliseconds) {
    case 1000:
        return QStringLiteral("1 sec");
    case 5000:
        return QStringLiteral("5 sec");
    case 10000:
        return QStringLiteral("10 sec");
    case 60000:
        return QStringLiteral("1 min");
    case 300000:
        return QStringLiteral("5 min");
    case 600000:
        return QStringLiteral("10 min");
    default:
        return QString();
    }
}

const int* offeredIntervals(int* count)
{
    *count = int(sizeof(kIntervals) / sizeof(kIntervals[0]));
    return kIntervals;
}
