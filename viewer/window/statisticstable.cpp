#include "statisticstable.h"

#include "valuetext.h"

#include <QColor>
#include <QHeaderView>
#include <QTableWidget>

#include <cmath>

namespace {

const QStringList Headers{
    QStringLiteral("Channel"), QStringLiteral("Minimum"),      QStringLiteral("at"),
    QStringLiteral("Maximum"), QStringLiteral("at"),           QStringLiteral("Average"),
    QStringLiteral("Samples"), QStringLiteral("Out of range"), QStringLiteral("MKT")};
const int MktColumn = 8;
// The cell of a mean kinetic temperature above its limit: the alarm tiles' red, on light red.
const QColor AboveLimitText(0xC0, 0x28, 0x48);
const QColor AboveLimitBackground(0xFB, 0xE3, 0xE8);

QString duration(qint64 seconds)
{
    const qint64 days = seconds / 86400;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                              .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return days > 0 ? QStringLiteral("%1 d ").arg(days) + clock : clock;
}

} // namespace

StatisticsTable::StatisticsTable(QTableWidget* table) : m_table(table)
{
    m_table->setColumnCount(Headers.size());
    m_table->setHorizontalHeaderLabels(Headers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(20);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
}

void StatisticsTable::setChannels(const QVector<TrendChart::Look>& looks)
{
    m_looks = looks;
    m_table->setRowCount(looks.size());
    for (int i = 0; i < looks.size(); ++i) {
        auto* name = new QTableWidgetItem(looks[i].title);
        name->setForeground(QColor(QRgb(looks[i].color)));
        m_table->setItem(i, 0, name);
        for (int column = 1; column < Headers.size(); ++column)
            m_table->setItem(i, column, new QTableWidgetItem());
    }
    // The table shows every chosen channel where there is room; on a small screen the charts
    // come first and the table scrolls.
    const int header = m_table->horizontalHeader()->sizeHint().height() + 2 * m_table->frameWidth();
    const int row = m_table->verticalHeader()->defaultSectionSize();
    m_table->setMinimumHeight(header + row);
    m_table->setMaximumHeight(header + row * qMax(1, looks.size()));
}

void StatisticsTable::show(const ViewQuery::Result& result)
{
    const int rows = qMin(result.series.size(), qMin(m_table->rowCount(), m_looks.size()));
    for (int row = 0; row < rows; ++row) {
        const ChannelStats& s = result.series[row].stats;
        const TrendChart::Look& look = m_looks[row];
        QStringList cells;
        if (s.count == 0) {
            cells = QStringList{QStringLiteral("N/A"), QString(),
                                QStringLiteral("N/A"), QString(),
                                QStringLiteral("N/A"), QStringLiteral("0")};
        } else {
            cells << valueText(s.min) << TrendChart::timeText(double(s.minTime)) << valueText(s.max)
                  << TrendChart::timeText(double(s.maxTime)) << valueText(s.average())
                  << QString::number(s.count);
        }
        cells << (look.alarmMin == look.alarmMax
                      ? QStringLiteral("no alarm range")
                      : duration(qint64(s.outside) * look.intervalSeconds) +
                            QStringLiteral(" (%1)").arg(s.outside));
        if (!result.series[row].complete)
            cells[5] += QStringLiteral(" ...");
        for (int column = 1; column < MktColumn; ++column)
            m_table->item(row, column)->setText(cells.value(column - 1));
        showMeanKinetic(m_table->item(row, MktColumn), look, result.series[row].meanKinetic);
    }
}

void StatisticsTable::showMeanKinetic(QTableWidgetItem* item, const TrendChart::Look& look,
                                      double value)
{
    const bool known = look.temperature && std::isfinite(value);
    const bool above = known && look.mktLimit && value > *look.mktLimit;
    item->setText(known ? QString::number(value, 'f', 2) : QString());
    item->setToolTip(
        above ? QStringLiteral("above the limit of %1").arg(QString::number(*look.mktLimit, 'f', 2))
              : QString());
    item->setData(Qt::ForegroundRole, above ? QVariant(AboveLimitText) : QVariant());
    item->setData(Qt::BackgroundRole, above ? QVariant(AboveLimitBackground) : QVariant());
}
