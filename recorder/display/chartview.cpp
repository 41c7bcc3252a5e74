#include "chartview.h"
#include "ui_chartview.h"

#include "channelunit.h"
#include "charttime.h"
#include "configureddevice.h"
#include "datainterval.h"
#include "gatewaymodel.h"
#include "nodedevice.h"
#include "novalue.h"
#include "qchartviewer.h"

#include <chartapi.h>
#include <plotbounds.h>

#include <QByteArray>
#include <QMouseEvent>

#include <algorithm>

namespace {

constexpr int Ch1Color = 0xFF0000;
constexpr int Ch2Color = 0x00CC00;
constexpr int TextColor = 0xFFFFFF;

// The nodes' history goes to the chart as it is: a missing sample must be the chart's gap.
static_assert(NoValue == Chart::NoValue, "a missing sample must be drawn as a gap");

// A node's sample times (seconds since 1970) as the chart's, in place.
void toChartTime(double* times)
{
    for (int i = 0; i < NodeChartView::HistorySize; ++i) {
        if (times[i] != NoValue)
            times[i] += ChartTimeUnixEpoch;
    }
}

ConfiguredDevice* gatewayOf(const NodeDevice* node)
{
    return node ? qobject_cast<ConfiguredDevice*>(node->parent()) : nullptr;
}

// The mark-up reads colours as RRGGBB.
QByteArray hexColor(int color)
{
    return QByteArray::number(uint(color) & 0xFFFFFFu, 16).rightJustified(6, '0');
}

void drawText(DrawArea* area, const QByteArray& markup, const char* font, int x, int y,
              int alignment)
{
    TTFText* text = CDrawArea_text3(area, markup.constData(), font, 8);
    CTTFText_draw(text, x, y, TextColor, alignment);
    CTTFText_destroy(text);
}

// The dashed line, time label, legend with the value of each line, point marks and the view
// line at pixel x, on the chart's dynamic layer so the chart itself is not rebuilt.
void drawTrackCursor(XYChart* chart, int plotX, int interval)
{
    DrawArea* d = CBaseChart_initDynamicLayer(chart);
    const auto [left, right, top, bottom] = PlotBounds::of(chart);
    Axis* xAxis = CXYChart_xAxis(chart);

    const QByteArray lengthLine =
        QByteArray("<*block*><*block*><*font=arial.ttf*>View Length : ") + "240" +
        " samples<*/*><*block*><*font=arial.ttf*>   Interval : " + intervalName(interval).toUtf8() +
        " <*/*><*/*>";
    // Anchored 240 pixels left of the plot's right edge; where the fonts make the line longer
    // than that, it moves left rather than run off the chart.
    TTFText* length = CDrawArea_text3(d, lengthLine.constData(), "arial.ttf", 8);
    const int lengthLeft =
        std::min(right - 240, CBaseChart_getWidth(chart) - CTTFText_getWidth(length) - 2);
    CTTFText_draw(length, lengthLeft, top - 3, TextColor, Chart::BottomLeft);
    CTTFText_destroy(length);

    const double xValue = CXYChart_getNearestXValue(chart, plotX);
    // Before the first sample there is no time to point at: a cursor there would read out a
    // date made of the no-value marker.
    if (xValue == NoValue)
        return;
    const int xCoor = CXYChart_getXCoor(chart, xValue);

    CDrawArea_vline(d, top, bottom, xCoor,
                    CDrawArea_dashLineColor(d, int(0x80F4F4F4u), Chart::DashLine));

    const QByteArray xLabel = QByteArray("<*font,bgColor=373737,color=e6e6e6*> ") +
                              CAxis_getFormattedLabel(xAxis, xValue, "hh:nn:ss") + " <*/font*>";
    TTFText* t = CDrawArea_text3(d, xLabel.constData(), "arialbd.ttf", 8);
    const int labelWidth = CTTFText_getWidth(t);
    const int labelLeft =
        std::max(0, std::min(xCoor - labelWidth / 2, CBaseChart_getWidth(chart) - labelWidth));
    CTTFText_draw(t, labelLeft, bottom + 6, TextColor, Chart::TopLeft);
    CTTFText_destroy(t);

    QList<QByteArray> entries;
    for (int i = 0; i < CXYChart_getLayerCount(chart); ++i) {
        Layer* layer = CXYChart_getLayerByZ(chart, i);
        const int index = CLayer_getXIndexOf(layer, xValue, 0);
        for (int j = 0; j < CLayer_getDataSetCount(layer); ++j) {
            DataSet* set = CLayer_getDataSetByZ(layer, j);
            const QByteArray name = CDataSet_getDataName(set);
            const int color = CDataSet_getDataColor(set);
            if (name.isEmpty() || color == Chart::Transparent)
                continue;
            const double value = CDataSet_getValue(set, index);
            const QByteArray text =
                value == NoValue ? QByteArray("N/A")
                                 : QByteArray(CBaseChart_formatValue(chart, value, "{value|2.}"));
            const QByteArray hex = hexColor(color);
            entries << QByteArray("<*block*>") + CDataSet_getLegendIcon(set) + " " + name + ": " +
                           "<*font,bgColor=" + hex + "*> " + text + " <*font*>" + "<*/*>";
            if (value == NoValue)
                continue;
            const int y = CXYChart_getYCoor(chart, CDataSet_getPosition(set, index),
                                            CDataSet_getUseYAxis(set));
            if (y < top || y > bottom)
                continue;
            CDrawArea_circle(d, xCoor, y, 4, 4, color, color);
            const QByteArray valueLabel = "<*font,bgColor=" + hex + "*> " + text + " <*font*>";
            if ((left + right) / 2 < xCoor)
                drawText(d, valueLabel, "arialbd.ttf", xCoor - 5, y, Chart::Right);
            else
                drawText(d, valueLabel, "arialbd.ttf", xCoor + 5, y, Chart::Left);
        }
    }
    QByteArray legend("<*block*>");
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        legend += *it;
    legend += "<*/*>";
    TTFText* legendText = CDrawArea_text3(d, legend.constData(), "arialbd.ttf", 8);
    CTTFText_draw(legendText, left + 5, top - 3, TextColor, Chart::BottomLeft);
    // The date stands 100 pixels into the plot unless a long value pushes the legend past it.
    const int dateLeft = std::max(left + 100, left + 5 + CTTFText_getWidth(legendText) + 8);
    CTTFText_destroy(legendText);

    const QByteArray date = QByteArray("<*block*><*font=arialbd.ttf*>[ ") +
                            CAxis_getFormattedLabel(xAxis, xValue, "yyyy-mm-dd hh:nn:ss") +
                            " ]<*/*>" + "<*/*>";
    drawText(d, date, "arialbd.ttf", dateLeft, top - 3, Chart::BottomLeft);
}

void fillNoValue(double* values)
{
    std::fill(values, values + NodeChartView::HistorySize, NoValue);
}

} // namespace

ChartView::ChartView(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::ChartView>())
{
    ui->setupUi(this);
    m_connectingPixmap = QPixmap(QStringLiteral(":/img/DeviceConnectingSymbol.png"));
    m_disconnectedPixmap = QPixmap(QStringLiteral(":/img/DeviceDisconnectedSymbol.png"));
    m_lanPixmap = QPixmap(QStringLiteral(":/img/icon_lan.png"));
    fillNoValue(m_times);
    fillNoValue(m_ch1Values);
    fillNoValue(m_ch2Values);

    ui->frame_lqibatt->hide();

    m_viewer1 = new QChartViewer(ui->label_ch1_chart);
    m_viewer2 = new QChartViewer(ui->label_ch2_chart);
    connect(m_viewer1, &QChartViewer::viewPortChanged, this, &ChartView::drawChart);
    connect(m_viewer1, &QChartViewer::mouseMovePlotArea, this, &ChartView::onMouseMovePlotArea);
    connect(ui->label_ch1_chart, &QChartViewerLabel::refreshChart, this, &ChartView::drawChart);
    connect(m_viewer2, &QChartViewer::viewPortChanged, this, &ChartView::drawChart2);
    connect(m_viewer2, &QChartViewer::mouseMovePlotArea, this, &ChartView::onMouseMovePlotArea2);
    connect(ui->label_ch2_chart, &QChartViewerLabel::refreshChart, this, &ChartView::drawChart2);

    connect(ui->btn_setting, &QPushButton::clicked, this, &ChartView::slotPopupSensingOption);
    connect(ui->btn_network, &QPushButton::clicked, this, &ChartView::slotPopupNetwork);

    m_viewer1->refreshViewPort(true, true);
    m_viewer2->refreshViewPort(true, true);
}

ChartView::~ChartView()
{
    if (m_node && m_node->chartView() == this)
        m_node->clearChartView();
    for (QChartViewer* viewer : {m_viewer1, m_viewer2}) {
        BaseChart* chart = viewer->assignedChart();
        viewer->assignChart(nullptr);
        CBaseChart_destroy(chart);
    }
}

QString ChartView::unitText(int unit, const QString& customText)
{
    return channelUnitText(channelUnitFromInt(unit), customText);
}

QString ChartView::normalStyle()
{
    return QStringLiteral(
        "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, stop:0 "
        "rgba(24, 68, 76, 255), stop:1 rgba(43, 132, 130, 255));");
}

QString ChartView::alarmStyle()
{
    return QStringLiteral(
        "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, stop:0 "
        "rgba(145, 27, 66, 255), stop:1 rgba(181, 69, 96, 255));");
}

QString ChartView::noValueStyle()
{
    return QStringLiteral(
        "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, stop:0 "
        "rgba(80, 80, 80, 255), stop:1 rgba(125, 125, 125, 255));");
}

int ChartView::interval() const
{
    const ConfiguredDevice* gateway = gatewayOf(m_node);
    return gateway ? gateway->interval() : DefaultDataInterval;
}

void ChartView::buildChart(QChartViewer* viewer, QChartViewerLabel* host, const double* values,
                           int color, const char* name)
{
    const int w = host->width();
    const int h = host->height();
    XYChart* chart = CXYChart_create(w - 10, h, 0x595959, Chart::Transparent, 0);
    const int background = CBaseChart_linearGradientColor(
        chart, 0, 25, 0, CBaseChart_getHeight(chart) - 15, 0x595959, 0x303030);
    CXYChart_setPlotArea(chart, 45, 25, w - 60, h - 55, background, -1, Chart::Transparent,
                         int(0x80303030u), int(0x80303030u));
    CXYChart_setClipping(chart, 0);
    Axis* xAxis = CXYChart_xAxis(chart);
    Axis* yAxis = CXYChart_yAxis(chart);
    CAxis_setTickDensity(xAxis, 75, 15);
    CAxis_setWidth(xAxis, 2);
    CAxis_setWidth(yAxis, 2);
    CAxis_setColors(xAxis, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);
    CAxis_setColors(yAxis, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);

    const double newest = m_times[HistorySize - 1];
    if (newest != NoValue) {
        const qint64 span = qint64(interval()) * HistorySize / 1000;
        CAxis_setDateScale(xAxis, newest - double(span), newest, 0, 0);
        CAxis_setLabelFormat(xAxis, "{value|hh:nn:ss}");
        Layer* layer = CXYChart_addLineLayer2(chart, Chart::Overlay, 0);
        CLayer_setXData(layer, m_times, HistorySize);
        CLayer_addDataSet(layer, values, HistorySize, color, name);
    }

    // Lay the chart out first so the plot area's edges are known to the cursor.
    CBaseChart_makeChart3(chart);
    const int cursorX = viewer->isPointerOnPlotArea()
                            ? viewer->plotPointerX()
                            : CPlotArea_getRightX(CXYChart_getPlotArea(chart));
    drawTrackCursor(chart, cursorX, interval());

    BaseChart* old = viewer->assignedChart();
    CBaseChart_destroy(old);
    viewer->assignChart(chart);
}

void ChartView::drawChart()
{
    buildChart(m_viewer1, ui->label_ch1_chart, m_ch1Values, Ch1Color, "CH1");
}

void ChartView::drawChart2()
{
    buildChart(m_viewer2, ui->label_ch2_chart, m_ch2Values, Ch2Color, "CH2");
}

void ChartView::onMouseMovePlotArea(QMouseEvent*)
{
    if (auto* chart = dynamic_cast<XYChart*>(m_viewer1->assignedChart())) {
        drawTrackCursor(chart, m_viewer1->plotPointerX(), interval());
        m_viewer1->refreshImage();
    }
}

void ChartView::onMouseMovePlotArea2(QMouseEvent*)
{
    if (auto* chart = dynamic_cast<XYChart*>(m_viewer2->assignedChart())) {
        drawTrackCursor(chart, m_viewer2->plotPointerX(), interval());
        m_viewer2->refreshImage();
    }
}

void ChartView::updateChart()
{
    m_viewer1->refreshViewPort(true, true);
    m_viewer2->refreshViewPort(true, true);
}

void ChartView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateChart();
}

void ChartView::slotPopupSensingOption()
{
    emit popupSensingOption();
}

void ChartView::slotPopupNetwork()
{
    emit popupNetworkSetting();
}

void ChartView::setConnectionState(bool connected)
{
    if (connected) {
        ui->label_device_status->setPixmap(m_connectingPixmap);
        ui->frame_ch1_value->setStyleSheet(normalStyle());
        ui->frame_ch2_value->setStyleSheet(normalStyle());
        return;
    }
    ui->label_device_status->setPixmap(m_disconnectedPixmap);
    ui->frame_ch1_value->setStyleSheet(noValueStyle());
    ui->frame_ch2_value->setStyleSheet(noValueStyle());
    ui->label_ch1_number->clear();
    ui->label_ch2_number->clear();
    ui->label_ch1_unit->clear();
    ui->label_ch2_unit->clear();
}

void ChartView::setNodeDevice(NodeDevice* node)
{
    if (!node)
        return;
    m_node = node;
    const ConfiguredDevice* gateway = gatewayOf(node);
    setConnectionState(gateway && gateway->connected);
    if (!node->shownChannel(1).isEmpty()) {
        ui->label_ch1_number->setText(node->shownChannel(1));
        ui->label_ch1_number->applyFontRule();
    }
    if (!node->shownChannel(2).isEmpty()) {
        ui->label_ch2_number->setText(node->shownChannel(2));
        ui->label_ch2_number->applyFontRule();
    }
    ui->label_lqi->setText(node->shownLinkQuality());
    ui->label_batt->setText(node->shownBattery());
    refreshDeviceInfo();
    node->history(m_times, m_ch1Values, m_ch2Values);
    toChartTime(m_times);
    m_viewer1->refreshViewPort(true, true);
    m_viewer2->refreshViewPort(true, true);
}

void ChartView::refreshDeviceInfo()
{
    if (!m_node)
        return;
    const ConfiguredDevice* gateway = gatewayOf(m_node);
    const NodeConfig config = m_node->configuration();
    QString device = config.deviceName;
    if (device.isEmpty() && gateway)
        device = gateway->ipAddress();
    const QString ch1 = config.ch1Name.isEmpty() ? QStringLiteral("CH1") : config.ch1Name;
    const QString ch2 = config.ch2Name.isEmpty() ? QStringLiteral("CH2") : config.ch2Name;
    ui->label_device->setText(device);
    ui->label_ch1_device->setText(device);
    ui->label_ch2_device->setText(device);
    ui->label_ch1_desc->setText(ch1);
    ui->label_ch2_desc->setText(ch2);

    ui->label_serialnumber->setText(QStringLiteral("ID : ") + m_node->deviceNumber());
    ui->label_device_type->setPixmap(m_lanPixmap);
    ui->frame_lqibatt->setVisible(gateway && GatewayModel::reportsLinkInfo(gateway->deviceModel()));

    m_ch1Unit = config.ch1Unit;
    m_ch2Unit = config.ch2Unit;
    m_ch1Custom = config.ch1Custom;
    m_ch2Custom = config.ch2Custom;

    struct Channel
    {
        ResizeLabel* number;
        ResizeLabelUnit* unit;
        QFrame* tile;
        QString unitText;
        bool alarm;
    };
    const Channel channels[] = {
        {ui->label_ch1_number, ui->label_ch1_unit, ui->frame_ch1_value,
         unitText(m_ch1Unit, m_ch1Custom), m_node->isAlarmed(1)},
        {ui->label_ch2_number, ui->label_ch2_unit, ui->frame_ch2_value,
         unitText(m_ch2Unit, m_ch2Custom), m_node->isAlarmed(2)},
    };
    for (const Channel& c : channels) {
        if (!c.number->text().isEmpty()) {
            c.unit->setText(c.unitText);
            c.unit->applyFontRule();
            c.tile->setStyleSheet(c.alarm ? alarmStyle() : normalStyle());
        } else {
            c.unit->clear();
            c.tile->setStyleSheet(noValueStyle());
        }
    }
}

void ChartView::showChannel(int channel, const QString& text, bool alarm)
{
    ResizeLabel* number = channel == 1 ? ui->label_ch1_number : ui->label_ch2_number;
    ResizeLabelUnit* unit = channel == 1 ? ui->label_ch1_unit : ui->label_ch2_unit;
    QFrame* tile = channel == 1 ? ui->frame_ch1_value : ui->frame_ch2_value;
    const QString unitString =
        channel == 1 ? unitText(m_ch1Unit, m_ch1Custom) : unitText(m_ch2Unit, m_ch2Custom);

    const bool refit = number->text().length() != text.length();
    number->setText(text);
    if (refit)
        number->applyFontRule();
    // Setting an unchanged text or style sheet still costs a relayout or a restyle of the tile;
    // a sample every second for a steady value should cost neither.
    if (unit->text() != unitString) {
        unit->setText(unitString);
        unit->applyFontRule();
    }
    setTileStyle(tile, alarm ? alarmStyle() : normalStyle());
}

void ChartView::setTileStyle(QFrame* tile, const QString& style)
{
    if (tile->styleSheet() != style)
        tile->setStyleSheet(style);
}

void ChartView::setData(const double* times, const double* ch1Values, const double* ch2Values,
                        const QString& ch1Text, const QString& ch2Text)
{
    if (!m_node)
        return;
    std::copy(times, times + HistorySize, m_times);
    toChartTime(m_times);
    std::copy(ch1Values, ch1Values + HistorySize, m_ch1Values);
    std::copy(ch2Values, ch2Values + HistorySize, m_ch2Values);
    m_viewer1->refreshViewPort(true, true);
    m_viewer2->refreshViewPort(true, true);
    showChannel(1, ch1Text, m_node->isAlarmed(1));
    showChannel(2, ch2Text, m_node->isAlarmed(2));
}

void ChartView::setLqiBattery(const QString& lqiText, const QString& batteryText)
{
    ui->label_lqi->setText(lqiText);
    ui->label_batt->setText(batteryText);
}

void ChartView::onDeviceConnected(const QString& deviceNumber)
{
    if (!m_node || deviceNumber != m_node->deviceNumber())
        return;
    // Comes before every data block: only a real change of state may restyle the tiles.
    if (ui->label_device_status->pixmap(Qt::ReturnByValue).cacheKey() !=
        m_connectingPixmap.cacheKey())
        ui->label_device_status->setPixmap(m_connectingPixmap);
    setTileStyle(ui->frame_ch1_value, normalStyle());
    setTileStyle(ui->frame_ch2_value, normalStyle());
}

void ChartView::onDeviceDisconnected(const QString& deviceNumber)
{
    if (m_node && deviceNumber == m_node->deviceNumber())
        setConnectionState(false);
}

void ChartView::clearView()
{
    fillNoValue(m_times);
    fillNoValue(m_ch1Values);
    fillNoValue(m_ch2Values);
    m_viewer1->refreshViewPort(true, true);
    m_viewer2->refreshViewPort(true, true);
    setConnectionState(false);
    ui->label_device_type->setPixmap(QPixmap());
    ui->label_ch1_device->clear();
    ui->label_ch2_device->clear();
    ui->label_ch1_desc->clear();
    ui->label_ch2_desc->clear();
    ui->label_ch1_number->clear();
    ui->label_ch2_number->clear();
    ui->label_ch1_unit->clear();
    ui->label_ch2_unit->clear();
    ui->frame_lqibatt->hide();
    ui->label_lqi->clear();
    ui->label_batt->clear();
    m_node = nullptr;
}

NodeDevice* ChartView::nodeDevice() const
{
    return m_node;
}
