#include "dashboarddeviceitem.h"
#include "ui_dashboarddeviceitem.h"

#include "chartview.h"
#include "configureddevice.h"
#include "nodedevice.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

DashBoardDeviceItem::DashBoardDeviceItem(NodeDevice* node, quint8 channel, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DashBoardDeviceItem>()), m_node(node),
      m_channel(channel)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("DashBoardDeviceItem"));
    if (!m_node) {
        ui->frame_ch->hide();
        return;
    }
    readNames();
    // Size both fonts once so the first value does not appear in the form's default size.
    ui->label_number->setText(QStringLiteral("1"));
    ui->label_number->applyFontRule();
    ui->label_number->clear();
    ui->label_unit->setText(unitText());
    ui->label_unit->applyFontRule();
    ui->label_unit->clear();
}

DashBoardDeviceItem::~DashBoardDeviceItem() = default;

void DashBoardDeviceItem::readNames()
{
    const NodeConfig config = m_node->configuration();
    QString device = config.deviceName;
    if (device.isEmpty()) {
        if (auto* gateway = qobject_cast<ConfiguredDevice*>(m_node->parent()))
            device = gateway->ipAddress();
    }
    ui->label_device->setText(device);
    const QString name = m_channel == 1 ? config.ch1Name : config.ch2Name;
    ui->label_desc->setText(
        name.isEmpty() ? (m_channel == 1 ? QStringLiteral("CH1") : QStringLiteral("CH2")) : name);
    m_unit = m_channel == 1 ? config.ch1Unit : config.ch2Unit;
    m_customText = m_channel == 1 ? config.ch1Custom : config.ch2Custom;
}

bool DashBoardDeviceItem::alarmFlag() const
{
    return m_node->isAlarmed(m_channel);
}

QString DashBoardDeviceItem::unitText() const
{
    return ChartView::unitText(m_unit, m_customText);
}

void DashBoardDeviceItem::setValueStyle(const QString& style)
{
    // Restyling repolishes the tile's children; a steady value every second should not.
    if (ui->frame_value->styleSheet() != style)
        ui->frame_value->setStyleSheet(style);
}

void DashBoardDeviceItem::setValue(const QString& text)
{
    if (!m_node)
        return;
    const bool refit = ui->label_number->text().length() != text.length();
    ui->label_number->setText(text);
    if (refit)
        ui->label_number->applyFontRule();
    const QString unit = unitText();
    if (ui->label_unit->text() != unit) {
        ui->label_unit->setText(unit);
        ui->label_unit->applyFontRule();
    }
    setValueStyle(valueStyle());
}

QString DashBoardDeviceItem::valueStyle() const
{
    if (m_outOfService)
        return ChartView::noValueStyle();
    return alarmFlag() ? ChartView::alarmStyle() : ChartView::normalStyle();
}

void DashBoardDeviceItem::setOutOfService(bool on)
{
    if (!m_node || on == m_outOfService)
        return;
    m_outOfService = on;
    ui->label_state->setVisible(on);
    refreshItem();
}

QString DashBoardDeviceItem::stateText() const
{
    return m_outOfService ? ui->label_state->text() : QString();
}

void DashBoardDeviceItem::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_node)
        return;
    QMenu menu(this);
    QAction* out = menu.addAction(QStringLiteral("Out of service..."));
    QAction* back = menu.addAction(QStringLiteral("Back in service"));
    out->setEnabled(!m_outOfService);
    back->setEnabled(m_outOfService);
    QPointer<NodeDevice> node = m_node;
    QAction* chosen = menu.exec(event->globalPos());
    if (!node)
        return;
    if (chosen == out)
        emit outOfServiceRequested(node);
    else if (chosen == back)
        emit backInServiceRequested(node);
}

void DashBoardDeviceItem::onDeviceConnected(const QString& deviceNumber)
{
    if (m_node && deviceNumber == m_node->deviceNumber())
        setValueStyle(m_outOfService ? ChartView::noValueStyle() : ChartView::normalStyle());
}

void DashBoardDeviceItem::onDeviceDisconnected(const QString& deviceNumber)
{
    if (!m_node || deviceNumber != m_node->deviceNumber())
        return;
    setValueStyle(ChartView::noValueStyle());
    ui->label_number->clear();
    ui->label_unit->clear();
}

void DashBoardDeviceItem::refreshItem()
{
    if (!m_node)
        return;
    readNames();
    if (!ui->label_number->text().isEmpty()) {
        ui->label_unit->setText(unitText());
        ui->label_unit->applyFontRule();
        setValueStyle(valueStyle());
    } else {
        ui->label_unit->clear();
        setValueStyle(ChartView::noValueStyle());
    }
}

void DashBoardDeviceItem::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (m_node)
        emit clicked(m_node);
}

NodeDevice* DashBoardDeviceItem::node() const
{
    return m_node;
}
