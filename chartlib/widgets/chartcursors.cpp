#include "chartcursors.h"

#include <QBitmap>
#include <QCursor>

#include <cmath>
#include <memory>

namespace {

constexpr int Size = 32;
constexpr int Hot = 15;

enum Pixel : unsigned char
{
    Clear,
    White,
    Black
};

struct Canvas
{
    Pixel px[Size][Size] = {};

    void set(int x, int y, Pixel p)
    {
        if (x >= 0 && x < Size && y >= 0 && y < Size)
            px[y][x] = p;
    }
    // Black where shape is set, with a one-pixel white halo where nothing is drawn yet, so the
    // cursor stays visible on dark and light charts alike.
    template <typename Shape> void stamp(Shape inside, Pixel p = Black)
    {
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x)
                if (inside(x, y))
                    px[y][x] = p;
    }
    void halo()
    {
        Pixel copy[Size][Size];
        std::copy(&px[0][0], &px[0][0] + Size * Size, &copy[0][0]);
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x) {
                if (copy[y][x] != Clear)
                    continue;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx >= 0 && nx < Size && ny >= 0 && ny < Size && copy[ny][nx] == Black)
                            px[y][x] = White;
                    }
            }
    }
};

// Magnifier: a ring around the hot spot with a handle to the lower right; sign 1 plus, -1 minus.
Canvas magnifier(int sign)
{
    Canvas c;
    const double cx = Hot, cy = Hot;
    c.stamp([&](int x, int y) { return std::hypot(x - cx, y - cy) <= 7.5; }, White);
    c.stamp([&](int x, int y) {
        const double r = std::hypot(x - cx, y - cy);
        return r > 7.5 && r <= 9.5;
    });
    c.stamp([&](int x, int y) {
        // Handle: a thick diagonal from the ring outwards.
        const double along = ((x - cx) + (y - cy)) / std::sqrt(2.0);
        const double across = std::fabs((x - cx) - (y - cy)) / std::sqrt(2.0);
        return along >= 9 && along <= 20 && across <= 1.6;
    });
    if (sign != 0)
        c.stamp([&](int x, int y) { return std::abs(y - Hot) <= 1 && std::abs(x - Hot) <= 4; });
    if (sign > 0)
        c.stamp([&](int x, int y) { return std::abs(x - Hot) <= 1 && std::abs(y - Hot) <= 4; });
    c.halo();
    return c;
}

// Arrow heads pointing away from the hot spot: horizontal, vertical or both.
Canvas arrows(bool horizontal, bool vertical)
{
    Canvas c;
    const auto head = [&](int dirX, int dirY) {
        c.stamp([&](int x, int y) {
            const int along = (x - Hot) * dirX + (y - Hot) * dirY;
            const int across = std::abs((x - Hot) * dirY - (y - Hot) * dirX);
            return along >= 5 && along <= 12 && across <= 12 - along;
        });
    };
    if (horizontal) {
        head(1, 0);
        head(-1, 0);
    }
    if (vertical) {
        head(0, 1);
        head(0, -1);
    }
    c.stamp([&](int x, int y) { return std::abs(x - Hot) <= 1 && std::abs(y - Hot) <= 1; });
    c.halo();
    return c;
}

} // namespace

ChartCursors::ChartCursors()
{
    const Canvas canvases[KindCount] = {
        magnifier(1),        magnifier(-1),       magnifier(0),
        arrows(true, false), arrows(false, true), arrows(true, true),
    };
    for (int k = 0; k < KindCount; ++k) {
        planes[k][0].fill(0);
        planes[k][1].fill(0);
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x) {
                const unsigned char bit = static_cast<unsigned char>(0x80 >> (x % 8));
                const int index = y * 4 + x / 8;
                if (canvases[k].px[y][x] == Clear)
                    planes[k][0][size_t(index)] |= bit;
                else if (canvases[k].px[y][x] == White)
                    planes[k][1][size_t(index)] |= bit;
            }
    }
}

ChartCursors::~ChartCursors() = default;

const ChartCursors::Plane& ChartCursors::plane(Kind kind, int which) const
{
    return planes[kind][which ? 1 : 0];
}

const QCursor& ChartCursors::cursor(Kind kind)
{
    if (!cursors[kind]) {
        uchar image[128];
        uchar mask[128];
        for (int i = 0; i < 128; ++i) {
            const uchar transparent = planes[kind][0][size_t(i)];
            const uchar white = planes[kind][1][size_t(i)];
            image[i] = uchar(~(transparent | white));
            mask[i] = uchar(~transparent | white);
        }
        const QBitmap bitmap = QBitmap::fromData(QSize(Size, Size), image, QImage::Format_Mono);
        const QBitmap maskBitmap = QBitmap::fromData(QSize(Size, Size), mask, QImage::Format_Mono);
        cursors[kind] = std::make_unique<QCursor>(bitmap, maskBitmap, Hot, Hot);
    }
    return *cursors[kind];
}
