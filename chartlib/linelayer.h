#pragma once

#include "layer.h"

// A layer that joins consecutive samples of each data set with a line; the no-value marker
// breaks the line.
class LineLayer : public Layer
{
public:
    explicit LineLayer(ChartCore *core);
};
