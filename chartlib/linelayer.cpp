#include "linelayer.h"

LineLayer::LineLayer(ChartCore *core)
    : Layer(core)
{
}
