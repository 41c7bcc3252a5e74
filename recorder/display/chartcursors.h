#pragma once

#include <array>

class QCursor;

// The viewer's six one-bit cursors (32 x 32, hot spot 15, 15). Each is kept as two 128-byte
// planes, rows of 4 bytes, most significant bit first: a transparency plane and a white plane.
// The cursors are made on first use, shared by all viewers and freed when the program exits.
class ChartCursors
{
public:
    enum Kind {
        ZoomIn,
        ZoomOut,
        NoZoom,
        ScrollHorizontal,
        ScrollVertical,
        ScrollBoth,
        KindCount
    };
    using Plane = std::array<unsigned char, 128>;

    static const QCursor &cursor(Kind kind);
    // Plane 0 marks transparent pixels, plane 1 white ones; black is neither.
    static const Plane &plane(Kind kind, int which);
};
