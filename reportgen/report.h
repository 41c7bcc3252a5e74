#pragma once

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include "generateaveragequeries.h"
#include "reporttables.h"

#include <functional>
#include <memory>

class ConfiguredDevice;
class QAction;
class QListWidgetItem;
class QMenu;
class QPrinter;
class QProgressDialog;
class QWebFrame;

namespace Ui {
class Report;
}

// Calls to the desktop that would block or leave the process in a test: file dialogs, opening a
// file with its default application, starting another process. Tests replace them on the
// window they drive.
struct ReportDesktop
{
    std::function<QString(QWidget* parent, const QString& title, const QString& proposed,
                          const QString& filter)>
        saveFileName;
    std::function<bool(const QString& path)> openFile;
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
};

// The report window: a frameless window in which the user picks a period and up to four
// channels, makes one report and prints or exports it.
class Report : public QWidget
{
    Q_OBJECT

public:
    Report(const QString& projectPath, const QList<ConfiguredDevice*>& devices,
           QWidget* parent = nullptr);
    ~Report() override;

    ReportDesktop& desktop() { return desktopCalls; }

    void showMessage(const QString& title, const QString& text);
    bool isReportMade() const { return reportMade; }
    QWebFrame* reportFrame() const;
    // Renders the whole page, as the PDF and PNG exports do.
    QImage pageImage() const;

public slots:
    void topClick(QPoint point);
    void topMoved(QPoint point);
    void slotCommandUpdate();
    void slotConfigSelected(QListWidgetItem* item);
    void slotCommandProject();
    void slotCommandPrint();
    void slotNewReportProject();
    void slotView100();
    void slotViewFull();
    void slotViewNormal();
    void printPreview(QPrinter* printer);
    void exportPrint();
    void exportPrintPreview();
    void exportPrintPdf();
    void exportPrintHtml();
    void exportPrintPng();
    void genThreadError(QString text);
    void genThreadDone();
    void genThreadCount(int count);
    void genThreadHashTables();
    void slotStartDateTimeChanged(QDateTime dateTime);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void fillDeviceList();
    void setInputsLocked(bool locked);
    void closeProgress();
    void fillReportHeader();
    void fillChartData();
    void fillReportTable();
    QString unitText(int unit, const QString& custom) const;
    QString exportFileName(const QString& title, const QString& extension, const QString& filter,
                           const QString& defaultSuffix);
    void stopWorker();
    void showUnableToOpen();

    std::unique_ptr<Ui::Report> ui;
    QString connectionKey;
    bool reportMade = false;
    QString projectPath;
    QString databasePath;
    int dataInterval = 0;
    QMap<QString, int> unitNames;
    QList<ConfiguredDevice*> devices;
    QList<QListWidgetItem*> selectedItems;
    QProgressDialog* progress = nullptr;
    QPointer<GenerateAverageQueries> worker;
    ReportTables tables;
    ReportDesktop desktopCalls;
    qreal zoomFactor = 0.8;
    QPoint dragPoint;
    QRect normalGeometry;
    QMenu* projectMenu = nullptr;
    QMenu* printMenu = nullptr;
    QAction* actionNewReport = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionPrint = nullptr;
    QAction* actionPrintPreview = nullptr;
    QAction* actionHtml = nullptr;
    QAction* actionPdf = nullptr;
    QAction* actionPng = nullptr;
    QIcon checkIcon;
    QIcon nocheckIcon;
};
