#pragma once

#include "reportchannel.h"
#include "reportexport.h"
#include "reportperiod.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class ConfiguredDevice;
class QAction;
class QComboBox;
class QListWidgetItem;
class QMenu;
class QPrinter;
class QProgressDialog;
class QWebFrame;
class ReportRun;
class ReportWebPage;

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
    // Unset: messages show in the message dialog.
    std::function<void(const QString& title, const QString& text)> message;
};

// The report window: a frameless window in which the user picks a period and up to four
// channels, makes one report and prints or exports it. A daily report is made of one-hour
// periods; weekly, monthly and HACCP reports of whole local days. The figures are made by a
// ReportRun; the window's web view shows the ReportWebPage they fill.
class Report : public QWidget
{
    Q_OBJECT

public:
    Report(const QString& projectPath, const QList<ConfiguredDevice*>& devices,
           ReportKind kind = ReportKind::Daily, QWidget* parent = nullptr);
    ~Report() override;

    ReportDesktop& desktop() { return desktopCalls; }

    void showMessage(const QString& title, const QString& text);
    bool isReportMade() const { return reportMade; }
    QWebFrame* reportFrame() const;
    ReportKind reportKind() const { return kind; }
    // Shrinks and moves the window into a screen's free area (without its panels), no smaller
    // than the window can be: a frameless window gets no help from the window manager there.
    void fitInto(const QRect& available);

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
    void setUpDayPeriod(const QDateTime& recordStart, const QDateTime& recordStop);
    void addSpanChoice();
    void updateStartFormat();
    ReportPeriod currentPeriod() const;
    QList<ReportChannel> chosenChannels() const;
    void setInputsLocked(bool locked);
    void closeProgress();
    void exportPage(const QString& title, const QString& extension, const QString& defaultSuffix,
                    bool (ReportExport::*write)(const QString&) const);

    std::unique_ptr<Ui::Report> ui;
    QString connectionKey;
    bool reportMade = false;
    QString projectPath;
    QString databasePath;
    int dataInterval = 0;
    QList<ConfiguredDevice*> devices;
    QList<ReportChannel> listChannels; // by row of the device list
    QList<QListWidgetItem*> selectedItems;
    QProgressDialog* progress = nullptr;
    ReportRun* run = nullptr;
    ReportWebPage* webPage = nullptr;
    ReportKind kind;
    HaccpSpan span = HaccpSpan::Day;
    QComboBox* spanBox = nullptr;
    ReportDesktop desktopCalls;
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
