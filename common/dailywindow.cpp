#include "dailywindow.h"

#include <QRegularExpression>

namespace {

QString clockText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

std::optional<DailyWindow> DailyWindow::parse(const QString& text, QString* problem)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return DailyWindow();
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{2}):([0-9]{2})-([0-9]{2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = form.match(trimmed);
    if (trimmed.size() > 11 || !m.hasMatch()) {
        *problem = QStringLiteral("is not a daily time like 02:00-02:45");
        return std::nullopt;
    }
    const int h1 = m.captured(1).toInt(), m1 = m.captured(2).toInt();
    const int h2 = m.captured(3).toInt(), m2 = m.captured(4).toInt();
    if (h1 > 23 || h2 > 23 || m1 > 59 || m2 > 59) {
        *problem = QStringLiteral("holds a time that no day has");
        return std::nullopt;
    }
    DailyWindow w;
    w.m_from = h1 * 60 + m1;
    w.m_to = h2 * 60 + m2;
    if (w.m_from == w.m_to) {
        *problem = QStringLiteral("begins and ends at the same time");
        return std::nullopt;
    }
    w.m_set = true;
    return w;
}

QString DailyWindow::text() const
{
    return m_set ? clockText(m_from) + QLatin1Char('-') + clockText(m_to) : QString();
}

bool DailyWindow::contains(const QDateTime& time) const
{
    if (!m_set || !time.isValid())
        return false;
    const QTime local = time.toLocalTime().time();
    const int t = local.hour() * 60 + local.minute();
    return m_from < m_to ? (t >= m_from && t < m_to) : (t >= m_from || t < m_to);
}
