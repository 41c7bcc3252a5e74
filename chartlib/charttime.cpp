#include "charttime.h"

double CChart_chartTime2(int unixSeconds)
{
    return ChartTimeUnixEpoch + double(unixSeconds);
}
