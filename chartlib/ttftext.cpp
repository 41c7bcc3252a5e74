#include "ttftext.h"

#include "drawarea.h"
#include "textmarkup.h"

TTFText::TTFText(std::weak_ptr<DrawArea> area, std::shared_ptr<const TextMarkup> text)
    : m_area(std::move(area))
    , m_text(std::move(text))
{
}

int TTFText::getWidth() const
{
    return m_text->width();
}

int TTFText::getHeight() const
{
    return m_text->height();
}

void TTFText::topLeftFor(int x, int y, int width, int height, int alignment, int *left, int *top)
{
    int column = 0; // 0 left, 1 centre, 2 right
    int row = 0;    // 0 bottom, 1 middle, 2 top
    if (alignment >= 1 && alignment <= 9) {
        column = (alignment - 1) % 3;
        row = (alignment - 1) / 3;
    } else {
        row = 2;
    }
    *left = column == 0 ? x : column == 1 ? x - width / 2 : x - width;
    *top = row == 2 ? y : row == 1 ? y - height / 2 : y - height;
}

void TTFText::draw(int x, int y, int color, int alignment) const
{
    const std::shared_ptr<DrawArea> area = m_area.lock();
    if (!area)
        return;
    int left = 0;
    int top = 0;
    topLeftFor(x, y, m_text->width(), m_text->height(), alignment, &left, &top);
    area->addText(m_text, left, top, color);
}
