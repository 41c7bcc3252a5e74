#pragma once

#include "accesspolicy.h"
#include "reportchannel.h"
#include "reportexport.h"
#include "reportperiod.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

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
class SignInSession;
class QThread;
struct SignatureGrant;

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
    // Asks for a sign-in (for `action` when given); true once someone is signed in. The Sign
    // in dialog, modal.
    std::function<bool(SignInSession* session, std::optional<AccessPolicy::Action> action,
                       const QString& what, QWidget* parent)>
        signIn;
    // Asks the signed-in user for a signature of `meaning`; `signedBy` runs once it is given,
    // nothing when cancelled. The Signature dialog, without blocking.
    std::function<void(SignInSession* session, const QString& meaning, const QString& what,
                       QWidget* parent, const std::function<void(const SignatureGrant&)>& signedBy)>
        sign;
    // The period (whole local days) and comment of a review; false when cancelled.
    std::function<bool(QWidget* parent, QDate* from, QDate* to, QString* comment)> askReview;
};

// The report window: a frameless window in which the user picks a period and up to four
// channels, makes one report and prints or exports it. A daily report is made of one-hour
// periods; weekly, monthly and HACCP reports of whole local days. The figures are made by a
// ReportRun; the window's web view shows the ReportWebPage they fill. A report made may be
// approved ("Approve..."), and the audit trail reviewed ("Review..."), by a signed-in Supervisor
// with an electronic signature; both are recorded in the project's database on a thread of their
// own.
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
    // The project's users, for the sign-in and the signatures.
    SignInSession* signInSession() const { return session; }
    // True while an approval or review is being written.
    bool isRecording() const { return !recording.isNull(); }

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
    // The report's tables (ReportCsv) as the run made them; small enough to write at once, as
    // the page's exports are.
    void exportPrintCsv();
    void genThreadError(QString text);
    void genThreadDone();
    void genThreadCount(int count);
    void genThreadHashTables();
    void slotStartDateTimeChanged(QDateTime dateTime);
    void approveReport();
    void reviewAuditTrail();
    void signInOut();

signals:
    // An approval or a review was recorded (ok) or not, with the text shown.
    void recorded(bool ok, const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Key and mouse input anywhere in the program keeps the signed-in user from the idle
    // sign-out.
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    // True once the signed-in user may do `action`, after a sign-in when needed; otherwise says
    // why not.
    bool mayDo(AccessPolicy::Action action, const QString& what);
    void approveSigned(const SignatureGrant& grant);
    void reviewSigned(const SignatureGrant& grant, const QDate& from, const QDate& to,
                      const QString& comment);
    // Runs `work` on a thread of its own; `done` here with its outcome and the text to show.
    void record(const std::function<bool(QString* text)>& work,
                const std::function<void()>& done = {});
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
    QAction* actionCsv = nullptr;
    QAction* actionApprove = nullptr;
    QAction* actionReview = nullptr;
    QAction* actionSignIn = nullptr;
    SignInSession* session = nullptr;
    QPointer<QThread> recording;
    // The period of the report made: seconds UTC, its first second and the first after it.
    qint64 madeFrom = 0;
    qint64 madeTo = 0;
    QIcon checkIcon;
    QIcon nocheckIcon;
};
