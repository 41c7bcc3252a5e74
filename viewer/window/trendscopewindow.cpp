#include "trendscopewindow.h"
#include "ui_trendscopewindow.h"

#include "alarmkind.h"
#include "channelcatalog.h"
#include "channelevents.h"
#include "chosenchannels.h"
#include "datainterval.h"
#include "exportdialog.h"
#include "messagedialog.h"
#include "statisticstable.h"
#include "trendchart.h"
#include "viewersession.h"
#include "windowchrome.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace {

constexpr int DefaultChannels = 4;
constexpr double KeyZoom = 1.5;
constexpr double KeyScroll = 0.2;
constexpr int OverviewEveryMs = 1000;

const QStringList EventHeaders{QStringLiteral("Start"), QStringLiteral("Channel"),
                               QStringLiteral("Kind"), QStringLiteral("Ack")};

} // namespace

TrendscopeWindow::TrendscopeWindow(ViewerSession* session, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TrendscopeWindow>()), m_session(session)
{
    ui->setupUi(this);
    session->setParent(this);
    ui->label_version->setText(WindowChrome::versionText());
    const QFileInfo project(session->projectPath());
    setWindowTitle(QStringLiteral("Trendscope - ") + project.completeBaseName());
    ui->label_project->setText(
        WindowChrome::projectLabel(project.absolutePath(), project.completeBaseName()));
    ui->label_project->setToolTip(session->projectPath());
    const QString interval = intervalName(session->intervalMilliseconds());
    ui->label_interval->setText(
        QStringLiteral("Interval : ") +
        (interval.isEmpty() ? QString::number(session->intervalSeconds()) + QStringLiteral(" sec")
                            : interval));
    setState(QStringLiteral("Opening the database..."));
    m_window.setMinimumSpan(qMax(30.0, 20.0 * session->intervalSeconds()));

    m_stats = std::make_unique<StatisticsTable>(ui->statsTable);
    ui->eventsTable->setColumnCount(EventHeaders.size());
    ui->eventsTable->setHorizontalHeaderLabels(EventHeaders);
    ui->eventsTable->verticalHeader()->hide();
    ui->eventsTable->verticalHeader()->setDefaultSectionSize(18);
    ui->eventsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->eventsTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    ui->eventsTable->horizontalHeader()->setMinimumSectionSize(24);
    ui->eventsTable->horizontalHeader()->setFont(ui->eventsTable->font());
    // The channel column gives way (its text is elided, the tooltip has it whole).
    ui->eventsTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A click shows the event's span with a margin on either side.
    connect(ui->eventsTable, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (row < 0 || row >= m_listedEvents.size())
            return;
        const AlarmEventRecord& e = m_listedEvents[row];
        const double start = double(e.start);
        const double end = e.end ? double(*e.end) : qMax(start, m_window.last());
        const double margin = qMax(m_window.minimumSpan(), (end - start) / 2);
        showRange(start - margin, end + margin);
    });

    connect(ui->listWidget_channels, &QListWidget::itemChanged, this,
            &TrendscopeWindow::channelToggled);
    connect(ui->lineEdit_filter, &QLineEdit::textChanged, this, &TrendscopeWindow::applyFilter);
    connect(ui->btn_hour, &QPushButton::clicked, this, [this]() { lastSpan(3600); });
    connect(ui->btn_day, &QPushButton::clicked, this, [this]() { lastSpan(86400); });
    connect(ui->btn_week, &QPushButton::clicked, this, [this]() { lastSpan(7 * 86400); });
    connect(ui->btn_month, &QPushButton::clicked, this, [this]() { lastSpan(30 * 86400); });
    connect(ui->btn_all, &QPushButton::clicked, this,
            [this]() { showRange(m_window.first(), m_window.last()); });
    connect(ui->btn_show, &QPushButton::clicked, this, [this]() {
        showRange(double(ui->dateTimeEdit_from->dateTime().toSecsSinceEpoch()),
                  double(ui->dateTimeEdit_to->dateTime().toSecsSinceEpoch()));
    });
    connect(ui->btn_zoom_in, &QPushButton::clicked, this, [this]() { zoomAtCentre(KeyZoom); });
    connect(ui->btn_zoom_out, &QPushButton::clicked, this, [this]() { zoomAtCentre(1 / KeyZoom); });
    connect(ui->btn_live, &QPushButton::clicked, this, [this]() {
        m_window.toEnd();
        applyWindow();
    });
    connect(ui->chartStack, &ChartStack::fractionsChanged, this, [this](double left, double width) {
        if (m_window.setFractions(left, width))
            applyWindow();
    });
    connect(ui->chartStack, &ChartStack::zoomRequested, this, [this](double anchor, double factor) {
        if (m_window.zoomAt(anchor, factor))
            applyWindow();
    });
    connect(ui->chartStack, &ChartStack::columnsChanged, this, &TrendscopeWindow::requestCharts);
    connect(ui->navigator, &NavigatorStrip::windowRequested, this, &TrendscopeWindow::showRange);
    connect(ui->navigator, &NavigatorStrip::overviewWanted, this,
            &TrendscopeWindow::requestOverview);

    connect(session, &ViewerSession::opened, this, &TrendscopeWindow::sessionOpened);
    connect(session, &ViewerSession::periodChanged, this, &TrendscopeWindow::periodChanged);
    connect(session, &ViewerSession::channelsChanged, this, &TrendscopeWindow::fillChannelList);
    connect(session, &ViewerSession::summaryProgress, this, &TrendscopeWindow::summaryProgress);
    connect(session, &ViewerSession::summaryUpdated, this, &TrendscopeWindow::summaryUpdated);
    connect(session, &ViewerSession::summaryComplete, this, [this]() {
        setState(m_session->isIndexed() ? QString()
                                        : QStringLiteral("No range index in this file: zoomed-in "
                                                         "views read more slowly."));
        requestCharts();
        requestOverview();
    });
    connect(session, &ViewerSession::viewReady, this, &TrendscopeWindow::viewReady);
    connect(session, &ViewerSession::eventsReady, this, &TrendscopeWindow::eventsReady);
    connect(session, &ViewerSession::databaseReplaced, this, [this]() {
        // Said for the rest of the session: what was shown before came from the other file.
        m_note = QStringLiteral("The database file was replaced at %1 and opened again.")
                     .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
        setState(QString());
    });

    // The typed period moves to a row of its own when the window is narrow; the view is never
    // narrower than that row.
    ui->viewFrame->installEventFilter(this);
    ui->viewFrame->setMinimumWidth(ui->periodBox->minimumSizeHint().width());

    buildMenus();
    m_chosen = savedChosen();
    fillChannelList();
    applyChannels();
    m_overviewClock.start();
    session->start();
    ui->chartStack->setFocus();
}

TrendscopeWindow::~TrendscopeWindow()
{
    m_session->stop();
}

void TrendscopeWindow::buildMenus()
{
    m_viewMenu = new QMenu(this);
    WindowChrome::styleMenu(m_viewMenu, font());
    m_viewMenu->addAction(QStringLiteral("Last hour"), this, [this]() { lastSpan(3600); });
    m_viewMenu->addAction(QStringLiteral("Last day"), this, [this]() { lastSpan(86400); });
    m_viewMenu->addAction(QStringLiteral("Last week"), this, [this]() { lastSpan(7 * 86400); });
    m_viewMenu->addAction(QStringLiteral("Last month"), this, [this]() { lastSpan(30 * 86400); });
    m_viewMenu->addAction(QStringLiteral("Whole period"), this,
                          [this]() { showRange(m_window.first(), m_window.last()); });
    m_viewMenu->addSeparator();
    m_viewMenu->addAction(QStringLiteral("Zoom in\t+"), this, [this]() { zoomAtCentre(KeyZoom); });
    m_viewMenu->addAction(QStringLiteral("Zoom out\t-"), this,
                          [this]() { zoomAtCentre(1 / KeyZoom); });
    m_viewMenu->addSeparator();
    m_viewMenu->addAction(QStringLiteral("Exit"), this, &QWidget::close);

    m_exportMenu = new QMenu(this);
    WindowChrome::styleMenu(m_exportMenu, font());
    m_exportMenu->addAction(QStringLiteral("CSV..."), this, &TrendscopeWindow::exportCsv);
    m_exportMenu->addAction(QStringLiteral("Charts as PNG..."), this, &TrendscopeWindow::exportPng);

    m_helpMenu = new QMenu(this);
    WindowChrome::styleMenu(m_helpMenu, font());
    m_helpMenu->addAction(QStringLiteral("Mouse and keys"), this, &TrendscopeWindow::showHelp);

    connect(ui->command_view, &QCommandLinkButton::clicked, this,
            [this]() { popup(m_viewMenu, ui->command_view); });
    connect(ui->command_export, &QCommandLinkButton::clicked, this,
            [this]() { popup(m_exportMenu, ui->command_export); });
    connect(ui->command_help, &QCommandLinkButton::clicked, this,
            [this]() { popup(m_helpMenu, ui->command_help); });
}

void TrendscopeWindow::popup(QMenu* menu, QWidget* button)
{
    menu->popup(button->mapToGlobal(QPoint(5, button->height())));
}

void TrendscopeWindow::fillChannelList()
{
    const QVector<ChannelCatalog::Channel>& channels = m_session->catalog().channels();
    QListWidget* list = ui->listWidget_channels;
    const QSignalBlocker blocker(list);
    list->clear();
    for (int i = 0; i < channels.size(); ++i) {
        const ChannelCatalog::Channel& c = channels[i];
        auto* item = new QListWidgetItem(ChannelCatalog::label(c), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(m_chosen.contains(i) ? Qt::Checked : Qt::Unchecked);
        item->setData(Qt::UserRole, i);
        item->setToolTip(c.inProject ? c.key
                                     : c.key + QStringLiteral(": in the database, no longer in "
                                                              "the project"));
        if (!c.inProject) {
            QFont italic = item->font();
            italic.setItalic(true);
            item->setFont(italic);
        }
    }
    applyFilter(ui->lineEdit_filter->text());
}

void TrendscopeWindow::applyFilter(const QString& text)
{
    const QVector<int> matches = m_session->catalog().filter(text);
    QListWidget* list = ui->listWidget_channels;
    for (int row = 0; row < list->count(); ++row)
        list->item(row)->setHidden(!matches.contains(list->item(row)->data(Qt::UserRole).toInt()));
}

void TrendscopeWindow::channelToggled(QListWidgetItem* item)
{
    const int index = item->data(Qt::UserRole).toInt();
    if (item->checkState() == Qt::Checked) {
        if (m_chosen.contains(index))
            return;
        if (m_chosen.size() >= MaxChannels) {
            const QSignalBlocker blocker(ui->listWidget_channels);
            item->setCheckState(Qt::Unchecked);
            ui->label_chosen->setText(
                QStringLiteral("At most %1 channels at once: untick one first.").arg(MaxChannels));
            return;
        }
        m_chosen << index;
    } else {
        m_chosen.removeAll(index);
    }
    applyChannels();
    saveChosen();
}

void TrendscopeWindow::setChosen(const QVector<int>& channels)
{
    m_chosen = channels.mid(0, MaxChannels);
    fillChannelList();
    applyChannels();
}

void TrendscopeWindow::applyChannels()
{
    const QVector<ChannelCatalog::Channel>& channels = m_session->catalog().channels();
    QVector<TrendChart::Look> looks;
    for (int i = 0; i < m_chosen.size(); ++i) {
        const ChannelCatalog::Channel& c = channels[m_chosen[i]];
        TrendChart::Look look;
        look.color = TrendChart::colorAt(i);
        look.title = ChannelCatalog::label(c);
        look.alarmMin = c.alarmMin;
        look.alarmMax = c.alarmMax;
        look.intervalSeconds = m_session->intervalSeconds();
        look.serial = c.serial;
        look.channel = c.channel;
        look.temperature = bool(c.scale);
        look.mktLimit = c.mktLimit;
        looks << look;
    }
    m_stats->setChannels(looks);
    ui->label_chosen->setText(
        QStringLiteral("%1 of %2 channels shown").arg(m_chosen.size()).arg(MaxChannels));
    ui->chartStack->setChannels(looks);
    ui->chartStack->setWindow(m_window.from(), m_window.to(), m_window.first(), m_window.last(),
                              m_window.minimumSpan());
    requestCharts();
    requestOverview();
}

void TrendscopeWindow::applyWindow()
{
    ui->chartStack->setWindow(m_window.from(), m_window.to(), m_window.first(), m_window.last(),
                              m_window.minimumSpan());
    ui->navigator->setPeriod(m_window.first(), m_window.last());
    ui->navigator->setWindow(m_window.from(), m_window.to());
    for (QDateTimeEdit* edit : {ui->dateTimeEdit_from, ui->dateTimeEdit_to}) {
        const QSignalBlocker blocker(edit);
        const double t = edit == ui->dateTimeEdit_from ? m_window.from() : m_window.to();
        edit->setDateTime(QDateTime::fromSecsSinceEpoch(qint64(std::floor(t))));
    }
    ui->btn_live->setChecked(m_window.isAtEnd());
    requestCharts();
}

void TrendscopeWindow::showRange(double from, double to)
{
    if (!m_windowPlaced)
        return;
    m_window.setRange(from, to);
    applyWindow();
}

void TrendscopeWindow::lastSpan(double seconds)
{
    showRange(m_window.last() - seconds, m_window.last());
}

void TrendscopeWindow::zoomAtCentre(double factor)
{
    if (m_windowPlaced && m_window.zoomAt((m_window.from() + m_window.to()) / 2, factor))
        applyWindow();
}

void TrendscopeWindow::requestCharts()
{
    if (!m_windowPlaced)
        return;
    const QVector<ChannelCatalog::Channel>& channels = m_session->catalog().channels();
    ViewQuery::Request request;
    request.id = ++m_requestId;
    request.slot = ChartSlot;
    request.from = m_window.from();
    request.to = m_window.to();
    request.columns = ui->chartStack->columns();
    request.intervalSeconds = m_session->intervalSeconds();
    for (int index : m_chosen) {
        const ChannelCatalog::Channel& c = channels[index];
        request.channels << ViewQuery::Channel{c.serial,   c.channel, c.alarmMin,
                                               c.alarmMax, c.scale,   c.activationEnergy};
    }
    m_session->requestView(request);
    m_eventsRequest =
        m_session->requestEvents(qint64(std::floor(request.from)), qint64(std::ceil(request.to)));
}

void TrendscopeWindow::eventsReady(quint64 id, const QVector<AlarmEventRecord>& events,
                                   const QString& error)
{
    // An answer to an older range is of no use any more.
    if (id != m_eventsRequest)
        return;
    if (!error.isEmpty())
        setState(QStringLiteral("The alarm events could not be read: ") + error);
    const ChannelEvents::Listed listed =
        ChannelEvents::match(events, m_session->catalog().channels(), m_chosen);
    m_listedEvents = listed.events;
    const QStringList& names = listed.names;
    ui->chartStack->setAlarmEvents(m_listedEvents, QDateTime::currentSecsSinceEpoch());
    ui->eventsTable->setRowCount(m_listedEvents.size());
    for (int row = 0; row < m_listedEvents.size(); ++row) {
        const AlarmEventRecord& e = m_listedEvents[row];
        const QString details = ChannelEvents::details(e, names[row]);
        const QStringList cells{
            QDateTime::fromSecsSinceEpoch(e.start).toString(QStringLiteral("MM-dd hh:mm")),
            names[row], alarmKindText(e.kind),
            e.acknowledgedAt ? QStringLiteral("yes") : QString()};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(details);
            // An alarm that still lasts stands out.
            if (e.isActive())
                item->setForeground(QColor(0xE8, 0x57, 0x5A));
            ui->eventsTable->setItem(row, column, item);
        }
    }
}

void TrendscopeWindow::requestOverview()
{
    if (!m_windowPlaced || m_chosen.isEmpty()) {
        ui->navigator->setOverview(ViewQuery::Result());
        return;
    }
    const ChannelCatalog::Channel& c = m_session->catalog().channels()[m_chosen.first()];
    ViewQuery::Request request;
    request.slot = OverviewSlot;
    request.from = m_window.first();
    request.to = m_window.last();
    request.columns = qMax(1, ui->navigator->width());
    request.intervalSeconds = m_session->intervalSeconds();
    // The overview shows no statistics: no kinetic sums.
    request.channels << ViewQuery::Channel{c.serial,   c.channel,    c.alarmMin,
                                           c.alarmMax, std::nullopt, 0};
    m_session->requestView(request);
    m_overviewClock.restart();
    m_overviewStale = false;
}

void TrendscopeWindow::sessionOpened(bool ok, const QString& error)
{
    if (!ok) {
        QMessageBox::critical(this, QStringLiteral("ERROR"),
                              QStringLiteral("The database could not be opened:\n") + error,
                              QMessageBox::Ok);
        close();
        return;
    }
    if (!m_session->hasPeriod())
        setState(m_session->isSummaryComplete() ? QStringLiteral("No samples recorded yet.")
                                                : QStringLiteral("Reading the recording..."));
    else
        setState(QString());
}

void TrendscopeWindow::periodChanged()
{
    const double previousLast = m_window.last();
    m_window.setLimits(double(m_session->firstTime()), double(m_session->lastTime()));
    if (!m_windowPlaced) {
        // A new view starts with the last day.
        m_windowPlaced = true;
        m_window.setRange(m_window.last() - 86400, m_window.last());
        ui->chartStack->setFocus();
    } else {
        // While the right edge is at the newest data, new samples scroll in.
        m_window.follow(previousLast);
    }
    ui->label_range->setText(TrendChart::timeText(m_window.first()) + QStringLiteral(" ~ ") +
                             TrendChart::timeText(m_window.last()));
    applyWindow();
    if (m_overviewClock.elapsed() >= OverviewEveryMs)
        requestOverview();
    else
        m_overviewStale = true;
}

void TrendscopeWindow::summaryProgress(qint64 done, qint64 total)
{
    if (total > 0)
        setState(QStringLiteral("Summarizing the recording: %1 %")
                     .arg(qMin<qint64>(100, done * 100 / total)));
}

void TrendscopeWindow::summaryUpdated()
{
    if (m_chartsIncomplete)
        requestCharts();
    if (m_overviewStale || m_overviewClock.elapsed() >= OverviewEveryMs)
        requestOverview();
    if (!m_session->hasPeriod() && m_session->isSummaryComplete())
        setState(QStringLiteral("No samples recorded yet."));
}

void TrendscopeWindow::viewReady(const ViewQuery::Result& result)
{
    if (result.slot == OverviewSlot) {
        ui->navigator->setOverview(result);
        return;
    }
    ui->chartStack->setResult(result);
    m_stats->show(result);
    m_chartsIncomplete = false;
    for (const ViewQuery::Series& series : result.series)
        m_chartsIncomplete = m_chartsIncomplete || !series.complete;
    m_drawnId = result.id;
    emit viewDrawn(result.id);
}

void TrendscopeWindow::setState(const QString& text)
{
    QString line = m_note;
    if (!line.isEmpty() && !text.isEmpty())
        line += QStringLiteral("  ");
    ui->label_state->setText(line + text);
}

void TrendscopeWindow::keyPressEvent(QKeyEvent* event)
{
    if (!m_windowPlaced) {
        QWidget::keyPressEvent(event);
        return;
    }
    bool changed = false;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        changed = m_window.zoomAt((m_window.from() + m_window.to()) / 2, KeyZoom);
        break;
    case Qt::Key_Minus:
        changed = m_window.zoomAt((m_window.from() + m_window.to()) / 2, 1 / KeyZoom);
        break;
    case Qt::Key_Left:
        changed = m_window.scrollBy(-KeyScroll * m_window.span());
        break;
    case Qt::Key_Right:
        changed = m_window.scrollBy(KeyScroll * m_window.span());
        break;
    case Qt::Key_Home:
        changed = m_window.toStart();
        break;
    case Qt::Key_End:
        changed = m_window.toEnd();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (changed)
        applyWindow();
}

bool TrendscopeWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->viewFrame && event->type() == QEvent::Resize)
        placePeriod();
    return QWidget::eventFilter(watched, event);
}

void TrendscopeWindow::placePeriod()
{
    QHBoxLayout* row = ui->horizontalLayout_range;
    // Counted alike wherever the period stands now, so that one width always gives one answer:
    // the buttons, the period and the spacings between the row's items (its spacer may shrink
    // to nothing).
    const bool inRow = row->indexOf(ui->periodBox) >= 0;
    const int items = row->count() + (inRow ? 0 : 1);
    int oneRow = ui->periodBox->sizeHint().width() + row->spacing() * (items - 1);
    for (QWidget* button : {ui->btn_hour, ui->btn_day, ui->btn_week, ui->btn_month, ui->btn_all,
                            ui->btn_zoom_out, ui->btn_zoom_in, ui->btn_live})
        oneRow += button->sizeHint().width();
    const bool fits = ui->viewFrame->width() >= oneRow;
    if (fits == inRow)
        return;
    if (fits) {
        ui->verticalLayout_view->removeWidget(ui->periodBox);
        row->insertWidget(row->indexOf(ui->btn_zoom_out), ui->periodBox);
    } else {
        row->removeWidget(ui->periodBox);
        ui->verticalLayout_view->insertWidget(1, ui->periodBox, 0, Qt::AlignRight);
    }
}

void TrendscopeWindow::closeEvent(QCloseEvent* event)
{
    saveChosen();
    QWidget::closeEvent(event);
}

void TrendscopeWindow::exportCsv()
{
    const QVector<ChannelCatalog::Channel>& channels = m_session->catalog().channels();
    QVector<CsvExporter::Column> columns;
    for (int index : m_chosen) {
        const ChannelCatalog::Channel& c = channels[index];
        columns << CsvExporter::Column{c.serial, c.channel, ChannelCatalog::label(c)};
    }
    if (columns.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("Please tick the channels to export first."));
        return;
    }
    ExportDialog dialog(m_session, columns, m_window.from(), m_window.to(), this);
    dialog.exec();
}

void TrendscopeWindow::exportPng()
{
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Charts as PNG"),
        QFileInfo(m_session->projectPath()).absolutePath() + QStringLiteral("/charts.png"),
        QStringLiteral("PNG image (*.png)"));
    if (file.isEmpty())
        return;
    if (ui->chartStack->grab().save(file, "PNG"))
        showMessage(this, QStringLiteral("INFORMATION"), QStringLiteral("Saved ") + file);
    else
        showMessage(this, QStringLiteral("ERROR"), QStringLiteral("Could not write ") + file);
}

void TrendscopeWindow::showHelp()
{
    QMessageBox::information(
        this, QStringLiteral("Mouse and keys"),
        QStringLiteral("Wheel: zoom about the pointer\n"
                       "Drag: scroll\n"
                       "Shift + drag: zoom to the frame\n"
                       "+ / -: zoom in / out\n"
                       "Left / Right: scroll\n"
                       "Home / End: first / newest samples\n"
                       "Navigator strip: drag the window, or its edges to resize it\n"
                       "LIVE: follow the newest samples"));
}

void TrendscopeWindow::saveChosen() const
{
    ChosenChannels::save(m_session->projectPath(), m_session->catalog(), m_chosen);
}

QVector<int> TrendscopeWindow::savedChosen() const
{
    return ChosenChannels::saved(m_session->projectPath(), m_session->catalog(), MaxChannels,
                                 DefaultChannels);
}
