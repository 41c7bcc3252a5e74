#pragma once

#include <QString>

class XYChart;

// A live chart built the way the recorder's device panel builds it, for the demo, the benchmark
// and the tests: the same calls, colours and track cursor, driven by plain arrays.
namespace DemoChart {

constexpr int HistoryLength = 240;

// W and H are the host's size; the chart is W-10 by H. Times in chart time, newest last; a newest
// time equal to the no-value marker gives an empty chart.
XYChart *build(int hostWidth, int hostHeight, const double *times, const double *values, int color,
               const char *name, int intervalMs);
// Draws the track cursor at pixel x on the chart's dynamic layer.
void drawTrackCursor(XYChart *chart, int plotX, int intervalMs);
// Fills 240 samples ending at newestUnix with a smooth wave, with a gap of no-value markers
// in [gapFrom, gapTo).
void fillWave(double *times, double *values, int newestUnix, int intervalMs, double base,
              double amplitude, int gapFrom, int gapTo);

} // namespace DemoChart
