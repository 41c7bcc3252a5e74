#pragma once

#include <QtGlobal>

// Integer division rounded towards minus infinity: the bucket, block or day a time or id falls
// in, also before 1970 or below zero, where plain division would round towards zero.
inline qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
