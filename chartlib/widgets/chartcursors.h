#pragma once

#include <array>
#include <memory>

class QCursor;

// The viewer's six one-bit cursors (32 x 32, hot spot 15, 15). Each is kept as two 128-byte
// planes, rows of 4 bytes, most significant bit first: a transparency plane and a white plane.
// Each viewer holds its own set; the planes are drawn when the set is made, a cursor on its
// first use.
class ChartCursors
{
public:
    enum Kind
    {
        ZoomIn,
        ZoomOut,
        NoZoom,
        ScrollHorizontal,
        ScrollVertical,
        ScrollBoth,
        KindCount
    };
    using Plane = std::array<unsigned char, 128>;

    ChartCursors();
    ~ChartCursors();
    ChartCursors(const ChartCursors&) = delete;
    ChartCursors& operator=(const ChartCursors&) = delete;

    const QCursor& cursor(Kind kind);
    // Plane 0 marks transparent pixels, plane 1 white ones; black is neither.
    const Plane& plane(Kind kind, int which) const;

private:
    Plane planes[KindCount][2];
    std::unique_ptr<QCursor> cursors[KindCount];
};
