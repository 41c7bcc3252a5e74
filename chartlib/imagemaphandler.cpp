#include "imagemaphandler.h"

#include <QRegularExpression>

namespace {

QString decodeEntities(QString text)
{
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

} // namespace

bool ImageMapHandler::Area::contains(int x, int y) const
{
    switch (shape) {
    case Rect:
        return coords.size() >= 4 && x >= qMin(coords[0], coords[2]) && x <= qMax(coords[0], coords[2])
            && y >= qMin(coords[1], coords[3]) && y <= qMax(coords[1], coords[3]);
    case Circle: {
        if (coords.size() < 3)
            return false;
        const qint64 dx = x - coords[0];
        const qint64 dy = y - coords[1];
        return dx * dx + dy * dy <= qint64(coords[2]) * coords[2];
    }
    case Poly:
        return polygon.size() >= 3 && polygon.containsPoint(QPoint(x, y), Qt::OddEvenFill);
    }
    return false;
}

ImageMapHandler::ImageMapHandler(const QString &imageMap)
{
    static const QRegularExpression areaTag(QStringLiteral("<area\\b([^>]*)>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        QStringLiteral("([A-Za-z_][\\w-]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    auto tags = areaTag.globalMatch(imageMap);
    while (tags.hasNext()) {
        const QString body = tags.next().captured(1);
        Area area;
        auto attrs = attribute.globalMatch(body);
        while (attrs.hasNext()) {
            const auto m = attrs.next();
            QString value = m.captured(2);
            if (m.capturedStart(3) >= 0)
                value = m.captured(3);
            else if (m.capturedStart(4) >= 0)
                value = m.captured(4);
            area.attributes.insert(m.captured(1).toLower(), decodeEntities(value));
        }
        const QString shape = area.attributes.value(QStringLiteral("shape")).toLower();
        area.shape = shape.startsWith(QLatin1String("circ")) ? Area::Circle
            : shape.startsWith(QLatin1String("poly"))        ? Area::Poly
                                                             : Area::Rect;
        const QStringList numbers = area.attributes.value(QStringLiteral("coords"))
                                        .split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &n : numbers)
            area.coords.push_back(qRound(n.trimmed().toDouble()));
        for (int i = 0; i + 1 < area.coords.size(); i += 2)
            area.polygon << QPoint(area.coords[i], area.coords[i + 1]);
        if (!area.attributes.contains(QStringLiteral("path"))
            && area.attributes.contains(QStringLiteral("href"))) {
            const QString href = area.attributes.value(QStringLiteral("href"));
            area.attributes.insert(QStringLiteral("path"), href.section(QLatin1Char('?'), 0, 0));
        }
        m_areas.push_back(area);
    }
}

int ImageMapHandler::getHotSpot(int x, int y)
{
    m_current = 0;
    for (int i = 0; i < m_areas.size(); ++i) {
        if (m_areas.at(i).contains(x, y)) {
            m_current = i + 1;
            break;
        }
    }
    return m_current;
}

QString ImageMapHandler::getValue(const QString &key) const
{
    if (m_current <= 0 || m_current > m_areas.size())
        return QString();
    const auto &attrs = m_areas.at(m_current - 1).attributes;
    const auto it = attrs.constFind(key.toLower());
    return it == attrs.constEnd() ? QString() : it.value();
}
