#pragma once

// Constants shared by the chart classes and their C entry points.
namespace Chart {

// A data value the chart does not plot: a line breaks there, a label formats it as empty text.
// Callers fill the slots of missing samples with it.
constexpr double NoValue = 1.7E+308;

// Colours are 0xAARRGGBB where the alpha byte counts transparency: 0 is opaque, 0xFF invisible.
constexpr int Transparent = int(0xFF000000u);
// -1 asks for the library's default colour of whatever is being set.
constexpr int DefaultColor = -1;

// Colour ids handed out by a chart for gradients and dashed lines live in ranges whose alpha byte
// (0xFE, 0xFD) no caller uses for a plain colour; the low bits index the chart's table.
constexpr unsigned GradientColorBase = 0xFE000000u;
constexpr unsigned DashColorBase = 0xFD000000u;
constexpr unsigned SpecialColorMask = 0xFF000000u;
constexpr unsigned SpecialIndexMask = 0x00FFFFFFu;

// Dash patterns: bytes from the low end alternate on and off lengths, in units of 3 pixels.
constexpr int DashLine = 0x0101;
constexpr int DotDashLine = 0x01020202;

// Text alignment codes, laid out like a numeric keypad read from the bottom row up.
enum Alignment
{
    BottomLeft = 1,
    BottomCenter = 2,
    BottomRight = 3,
    Left = 4,
    Center = 5,
    Right = 6,
    TopLeft = 7,
    TopCenter = 8,
    TopRight = 9,
};

// Image formats of makeChart2. RawImage (code 4) is meant for immediate decoding: the pixel rows
// as they are, read back by the library's own image plugin in one copy.
enum ImageFormat
{
    PNG = 0,
    JPG = 1,
    BMP = 3,
    RawImage = 4,
};

// Axis codes of the view-port manager.
enum Axes
{
    HorizontalAxis = 0,
    VerticalAxis = 1,
    BothAxes = 2,
};

// Way a line layer combines data sets: only overlaying is drawn.
constexpr int Overlay = 0;

} // namespace Chart
