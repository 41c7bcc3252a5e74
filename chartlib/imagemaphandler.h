#pragma once

#include "textring.h"

#include <QByteArray>
#include <QMap>
#include <QPolygon>
#include <QString>
#include <QVector>

// Finds the hot spot under the pointer in an HTML image map ("<area shape=... coords=...
// href=... title=...>") and gives its attributes; "path" is the href without its query.
class ImageMapHandler
{
public:
    explicit ImageMapHandler(const QString &imageMap);

    // 1-based number of the first area containing the point, 0 for none. Also makes that area
    // the current one for getValue.
    int getHotSpot(int x, int y);
    // The attribute of the current hot spot, or a null string when it has none.
    QString getValue(const QString &key) const;
    int hotSpotCount() const { return m_areas.size(); }

    // Storage for texts handed out through the C entry points.
    TextRing &texts() const { return m_texts; }

private:
    struct Area
    {
        enum Shape { Rect, Circle, Poly } shape = Rect;
        QVector<int> coords;
        QPolygon polygon;
        QMap<QString, QString> attributes;
        bool contains(int x, int y) const;
    };

    QVector<Area> m_areas;
    int m_current = 0;
    mutable TextRing m_texts;
};
