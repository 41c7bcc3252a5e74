#pragma once

#include <memory>

class DrawArea;
class TextMarkup;

// A measured piece of mark-up text, ready to be placed on the draw area it came from.
class TTFText
{
public:
    TTFText(std::weak_ptr<DrawArea> area, std::shared_ptr<const TextMarkup> text);

    int getWidth() const;
    int getHeight() const;
    // Draws with the reference point (x, y) at the given alignment code: 1 bottom-left,
    // 2 bottom-centre, 3 bottom-right, 4 left, 5 centre, 6 right, 7 top-left, 8 top-centre,
    // 9 top-right. Nothing is drawn once the draw area is gone.
    void draw(int x, int y, int color, int alignment = 7) const;
    // Top-left corner for a reference point and an alignment code.
    static void topLeftFor(int x, int y, int width, int height, int alignment, int *left, int *top);

private:
    std::weak_ptr<DrawArea> m_area;
    std::shared_ptr<const TextMarkup> m_text;
};
