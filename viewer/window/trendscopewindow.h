#pragma once

#include "alarmeventrecord.h"
#include "timewindow.h"
#include "viewquery.h"

#include <QElapsedTimer>
#include <QVector>
#include <QWidget>

#include <memory>

namespace Ui {
class TrendscopeWindow;
}

class QListWidgetItem;
class QMenu;
class StatisticsTable;
class ViewerSession;

// The data viewer's window: the channel list, the stacked charts on one time axis with the
// navigator strip under them, the statistics of the visible range, the quick ranges and typed
// period, and the export menu, in the recorder's dark look with its top and status bars.
class TrendscopeWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxChannels = 8;
    enum Slot
    {
        ChartSlot = 0,
        OverviewSlot = 1
    };

    // The window takes the session (not started yet) as its child and starts it.
    explicit TrendscopeWindow(ViewerSession* session, QWidget* parent = nullptr);
    ~TrendscopeWindow() override;

    ViewerSession* session() const { return m_session; }
    const TimeWindow& timeWindow() const { return m_window; }
    // Catalog indexes of the chosen channels, in the order they were ticked.
    QVector<int> chosen() const { return m_chosen; }
    void setChosen(const QVector<int>& channels);
    // Shows a range (as the typed period does).
    void showRange(double from, double to);
    // Ids of the last chart request and the last drawn answer: equal once the view is drawn.
    quint64 requestedId() const { return m_requestId; }
    quint64 drawnId() const { return m_drawnId; }
    // The alarm events listed and shaded: those of the shown channels in the visible range.
    const QVector<AlarmEventRecord>& listedEvents() const { return m_listedEvents; }

signals:
    // The charts were drawn from the answer to a request.
    void viewDrawn(quint64 id);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    // Puts the typed period beside the range buttons when they fit on one row, else under them.
    void placePeriod();
    void fillChannelList();
    void applyFilter(const QString& text);
    void channelToggled(QListWidgetItem* item);
    void applyChannels();
    void applyWindow();
    void requestCharts();
    void requestOverview();
    void sessionOpened(bool ok, const QString& error);
    void periodChanged();
    void summaryProgress(qint64 done, qint64 total);
    void summaryUpdated();
    void viewReady(const ViewQuery::Result& result);
    void eventsReady(quint64 id, const QVector<AlarmEventRecord>& events, const QString& error);
    // The state line, after what stays said for the session.
    void setState(const QString& text);
    void lastSpan(double seconds);
    void zoomAtCentre(double factor);
    void exportCsv();
    void exportPng();
    void showHelp();
    void popup(QMenu* menu, QWidget* button);
    void saveChosen() const;
    QVector<int> savedChosen() const;

    std::unique_ptr<Ui::TrendscopeWindow> ui;
    ViewerSession* m_session;
    std::unique_ptr<StatisticsTable> m_stats;
    TimeWindow m_window;
    QVector<int> m_chosen;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_exportMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    quint64 m_requestId = 0;
    quint64 m_drawnId = 0;
    bool m_windowPlaced = false;
    bool m_chartsIncomplete = false;
    QElapsedTimer m_overviewClock;
    bool m_overviewStale = false;
    QString m_note;
    quint64 m_eventsRequest = 0;
    QVector<AlarmEventRecord> m_listedEvents;
};
