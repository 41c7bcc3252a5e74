#include "../project/shownmessages.h"
#include "acknowledgedialog.h"
#include "alarmeventlistmodel.h"
#include "alarmindicator.h"
#include "alarmmonitor.h"
#include "alarmscreen.h"
#include "alarmtestdialog.h"
#include "auditfill.h"
#include "auditlookup.h"
#include "audittrail.h"
#include "audittraildialog.h"
#include "audittrailmodel.h"
#include "backupdialog.h"
#include "calibrationtable.h"
#include "configureddevice.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "datainterval.h"
#include "editedsettings.h"
#include "editedsettingsdialog.h"
#include "elidedlabel.h"
#include "nodedevice.h"
#include "notificationdialog.h"
#include "notificationsettings.h"
#include "outboxindicator.h"
#include "projectalarms.h"
#include "projectcenter.h"
#include "projectforwarding.h"
#include "projectmain.h"
#include "projectmanager.h"
#include "projectnotifications.h"
#include "reasondialog.h"
#include "recordingcycle.h"
#include "reportruntable.h"
#include "reportschedulesettings.h"
#include "secretstore.h"
#include "sensingoptiondialog.h"
#include "shelltestsupport.h"
#include "signaturedialog.h"
#include "signinstatus.h"
#include "sqliteconnection.h"
#include "treemodel.h"
#include "userdirectory.h"
#include "usersdialog.h"
#include "usertable.h"
#include "usertablemodel.h"
#include "webhookreceiver.h"
#include "windowfit.h"

#include <QAudioDeviceInfo>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <sqlite3.h>

#include <limits>
#include <memory>

class TestQuillmarMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstStart();
    void autoLoad_data();
    void autoLoad();
    void registeredOnce();
    void statusFolder_data();
    void statusFolder();
    void actionStates();
    void closeRefusedWhileRecording();
    void waitingSamplesOnClose_data();
    void waitingSamplesOnClose();
    void closeDuringIndexing();
    void statusBarSpacers();
    void noDeviceInformation_data();
    void noDeviceInformation();
    void createFlow();
    void editFlow();
    // Before databaseFailureEnds: once that case has ended the application (QCoreApplication::
    // exit), no modal dialog's exec() runs any more.
    void editedSettingsWait_data();
    void editedSettingsWait();
    void databaseFailureEnds();
    void databaseFailureAtStart();
    void launching_data();
    void launching();
    void fullScreenByDoubleClick();
    void alarmsWhileProjectRuns();
    void auditTrailOfTheProject();
    void alarmTestFromTheMenu();
    void calibrationDueShown();
    void reportFailureShown();
    void usersOfTheProject();
    void forwardingWhileProjectRuns_data();
    void forwardingWhileProjectRuns();
    void notificationsWhileProjectRuns_data();
    void notificationsWhileProjectRuns();
    void keyProblemsShown_data();
    void keyProblemsShown();
    void fitsSmallScreen();
    void changingActionsByRole_data();
    void changingActionsByRole();

private:
    std::unique_ptr<QuillmarMain> makeWindow();
    QString projectPath(const QString& name, const QString& folder = QString());

    QTemporaryDir configHome;
    std::unique_ptr<QTemporaryDir> dir;
    QByteArray originalPath;
    MessageBoxes boxes;
};

void TestQuillmarMain::initTestCase()
{
    QVERIFY(configHome.isValid());
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(
        !recorderSettings().fileName().startsWith(QDir::homePath() + QStringLiteral("/.config")));
    originalPath = qgetenv("PATH");
}

void TestQuillmarMain::init()
{
    recorderSettings().clear();
    boxes = MessageBoxes();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    qputenv("PATH", originalPath);
}

void TestQuillmarMain::cleanup()
{
    dir.reset();
}

std::unique_ptr<QuillmarMain> TestQuillmarMain::makeWindow()
{
    auto window = std::make_unique<QuillmarMain>(boxes.function());
    window->show();
    return window;
}

QString TestQuillmarMain::projectPath(const QString& name, const QString& folder)
{
    const QString base = folder.isEmpty() ? dir->path() : dir->filePath(folder);
    QDir().mkpath(base);
    return base + QLatin1Char('/') + name + QStringLiteral(".tpc");
}

// Catches: a first start that loads something, or project actions usable without a project.
void TestQuillmarMain::firstStart()
{
    auto window = makeWindow();
    QVERIFY(window->startScreen());
    QVERIFY(window->startScreen()->isVisible());
    QVERIFY(!window->isProjectOpen());
    QVERIFY(window->recentProjects().isEmpty());
    QVERIFY(!action(window.get(), "actionAutoLoad")->isChecked());
    QVERIFY(!action(window.get(), "actionAutoRecord")->isChecked());
    for (const char* name :
         {"actionAddDelete", "actionClose", "actionRefresh", "actionDataViewer", "actionExpansion"})
        QVERIFY2(!action(window.get(), name)->isEnabled(), name);
    QVERIFY(action(window.get(), "actionExit")->isEnabled());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quillmar Lite Modbus"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("label_version"))->text(),
             QStringLiteral("V1.9"));
    QCOMPARE(window->size(), QSize(1152, 620));
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QVERIFY(boxes.shown.contains(
            QStringLiteral("Audio|Raw audio format not supported by backend, cannot play audio!")));
    QVERIFY(!boxes.shown.contains(
        QStringLiteral("critical.wav|Could not find file \"critical.wav\"!")));
}

void TestQuillmarMain::autoLoad_data()
{
    QTest::addColumn<bool>("autoLoadOn");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("opened");
    QTest::newRow("newest gone, next opened") << true << QStringList{"older"} << "older";
    QTest::newRow("newest opened") << true << QStringList{"newest", "older"} << "newest";
    QTest::newRow("all gone") << true << QStringList{} << QString();
    QTest::newRow("switched off") << false << QStringList{"newest", "older"} << QString();
}

// Catches: auto-load opening a vanished project, or ignoring the flag.
void TestQuillmarMain::autoLoad()
{
    QFETCH(bool, autoLoadOn);
    QFETCH(QStringList, existing);
    QFETCH(QString, opened);
    QVariantMap map;
    for (const QString& name : {QStringLiteral("newest"), QStringLiteral("older")}) {
        const QString path = projectPath(name);
        map.insert(name, path);
        if (existing.contains(name))
            writeProject(path, {1});
    }
    {
        QSettings settings = recorderSettings();
        settings.beginGroup(QStringLiteral("RecentProjects"));
        settings.setValue(QStringLiteral("list"), QStringList{"newest", "older"});
        settings.setValue(QStringLiteral("projects"), map);
        settings.setValue(QStringLiteral("autoLoad"), autoLoadOn);
    }
    auto window = makeWindow();
    QCOMPARE(window->recentProjects(), existing);
    if (opened.isEmpty()) {
        QVERIFY(!window->isProjectOpen());
        QVERIFY(window->startScreen());
    } else {
        QVERIFY(window->isProjectOpen());
        QCOMPARE(window->currentProjectFile(), projectPath(opened));
        QVERIFY(window->projectCenter());
        QCOMPARE(window->gateways().size(), 1);
    }
    QVERIFY(action(window.get(), "actionAutoLoad")->isChecked() == autoLoadOn);
}

// Catches: a project listed twice, moved to the front when reopened, or a same-named one added.
void TestQuillmarMain::registeredOnce()
{
    const QString a = writeProject(projectPath(QStringLiteral("alpha")), {1});
    const QString b = writeProject(projectPath(QStringLiteral("beta")), {1});
    const QString otherAlpha =
        writeProject(projectPath(QStringLiteral("alpha"), QStringLiteral("other")), {1});
    auto window = makeWindow();
    for (const QString& path : {a, b, a, otherAlpha}) {
        window->startScreen()->projectLoaded(path);
        QVERIFY(window->isProjectOpen());
        window->slotCloseProject();
    }
    QCOMPARE(window->recentProjects(), (QStringList{"beta", "alpha"}));
    QCOMPARE(window->recentProjectPaths().value(QStringLiteral("alpha")).toString(), a);
    QSettings settings = recorderSettings();
    settings.beginGroup(QStringLiteral("RecentProjects"));
    QCOMPARE(settings.value(QStringLiteral("list")).toStringList(), (QStringList{"beta", "alpha"}));
    QCOMPARE(
        settings.value(QStringLiteral("projects")).toMap().value(QStringLiteral("beta")).toString(),
        b);
}

void TestQuillmarMain::statusFolder_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("cut");
    QTest::newRow("40") << 40 << false;
    QTest::newRow("41") << 41 << true;
}

// Catches: long folders overflowing the status bar, or short ones cut.
void TestQuillmarMain::statusFolder()
{
    QFETCH(int, length);
    QFETCH(bool, cut);
    const int pad = length - dir->path().size() - 1;
    QVERIFY(pad > 0);
    const QString folder = dir->filePath(QString(pad, QLatin1Char('f')));
    QCOMPARE(folder.size(), length);
    const QString path = writeProject(
        projectPath(QStringLiteral("plant"), QString(pad, QLatin1Char('f'))), {1}, {0}, 5000);
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    const QString shown = window->findChild<QLabel*>(QStringLiteral("label_projectname"))->text();
    QCOMPARE(shown, (cut ? folder.left(40) + QStringLiteral("...") : folder) +
                        QStringLiteral("/plant.tpc"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("label_interval"))->text(),
             QStringLiteral("Interval : 5 sec"));
    window->slotCloseProject();
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("label_projectname"))->text().isEmpty());
    QCOMPARE(window->projectInterval(), DefaultDataInterval);
}

// Catches: actions usable in a state where they do harm (editing while recording, reports
// without a project), and reports that cannot be reached with one.
void TestQuillmarMain::actionStates()
{
    const QString path = writeProject(projectPath(QStringLiteral("states")), {1});
    auto window = makeWindow();
    QuillmarMain* w = window.get();
    const QList<const char*> projectActions = {
        "actionAddDelete",  "actionClose",  "actionNotifications", "actionRefresh",
        "actionDataViewer", "actionAlarms", "actionExpansion",     "actionForwarding",
        "actionAuditTrail", "actionUsers",  "actionTestAlarms"};
    auto reports = [w](bool usable) {
        QCOMPARE(w->findChild<QMenu*>(QStringLiteral("menuReport"))->menuAction()->isEnabled(),
                 usable);
        for (const char* name : {"actionDaily", "actionWeekly", "actionMonthly", "actionHaccp"})
            QVERIFY2(action(w, name)->isEnabled(), name);
    };
    reports(false);
    w->startScreen()->projectLoaded(path);
    for (const char* name : projectActions)
        QVERIFY2(action(w, name)->isEnabled(), name);
    reports(true);
    w->slotStartRecord();
    // It starts once its entry is durable.
    QTRY_VERIFY(w->isRecording());
    for (const char* name : {"actionExit", "actionAddDelete", "actionClose"})
        QVERIFY2(!action(w, name)->isEnabled(), name);
    reports(true);
    w->slotStopRecord();
    for (const char* name : {"actionExit", "actionAddDelete", "actionClose"})
        QVERIFY2(action(w, name)->isEnabled(), name);
    w->slotAddDeviceProject();
    QVERIFY(w->editor());
    for (const char* name : projectActions)
        QCOMPARE(action(w, name)->isEnabled(), qstrcmp(name, "actionClose") == 0);
    reports(false);
    w->slotCloseProject();
    for (const char* name : projectActions)
        QVERIFY2(!action(w, name)->isEnabled(), name);
    reports(false);
}

// Catches: the window closing (and the recording ending unnoticed) while recording, or refusing
// without saying why.
void TestQuillmarMain::closeRefusedWhileRecording()
{
    const QString path = writeProject(projectPath(QStringLiteral("rec")), {1});
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QTest::mouseClick(
        window->projectCenter()->findChild<QToolButton*>(QStringLiteral("btn_record")),
        Qt::LeftButton);
    QTRY_VERIFY(window->isRecording());
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QCOMPARE(shownMessages(window.get()), QStringList{"WARNING|Stop recording first."});
    QVERIFY(!action(window.get(), "actionExit")->isEnabled());
    window->slotToggleRecord();
    QVERIFY(!window->isRecording());
    QVERIFY(!ProjectFile(path).value(QStringLiteral("record_start_time")).isEmpty());
    QVERIFY(!ProjectFile(path).value(QStringLiteral("record_stop_time")).isEmpty());
    action(window.get(), "actionExit")->trigger();
    QVERIFY(!window->isVisible());
    QVERIFY(window->gateways().isEmpty());
}

void TestQuillmarMain::waitingSamplesOnClose_data()
{
    const QString retry = QStringLiteral(
        "WARNING|4 samples could not be stored in the database.\nRetry writing them, or discard "
        "them?");
    const QString discard = QStringLiteral("WARNING|Discard 4 samples? They will not be stored.");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QList<int>>("answers");
    // The other program lets go of the file when this question is asked; 0: before closing.
    QTest::addColumn<int>("releaseAt");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<int>("stored");
    QTest::newRow("close: the one retry succeeds")
        << false << QList<int>{} << 0 << QStringList{} << 4;
    QTest::newRow("close: discarded, confirmed")
        << false << QList<int>{QMessageBox::Discard, QMessageBox::Yes} << -1
        << QStringList{retry, discard} << 0;
    QTest::newRow("edit: retried by the user")
        << true << QList<int>{QMessageBox::Retry} << 1 << QStringList{retry} << 4;
    QTest::newRow("close: discarding withdrawn, then retried")
        << false << QList<int>{QMessageBox::Discard, QMessageBox::No, QMessageBox::Retry} << 3
        << QStringList{retry, discard, retry} << 4;
}

// Catches: samples that a failed write left waiting thrown away silently when the project is
// closed or edited, or discarded without the user's confirmation; a failing file not shown.
void TestQuillmarMain::waitingSamplesOnClose()
{
    QFETCH(bool, edit);
    QFETCH(QList<int>, answers);
    QFETCH(int, releaseAt);
    QFETCH(QStringList, asked);
    QFETCH(int, stored);
    const QString path = writeProject(projectPath(QStringLiteral("held")), {1});
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    window->slotStartRecord();
    // It starts once its entry is durable.
    QTRY_VERIFY(window->isRecording());
    NodeDevice* node = window->gateways()[0]->nodes()[0];
    const QDateTime time = QDateTime::currentDateTime();
    for (int i = 0; i < 3; ++i)
        node->setData(QStringLiteral("21.50"), QStringLiteral("45.00"), {}, {}, time.addSecs(i),
                      false);
    auto holder = std::make_unique<LockHolder>(ProjectFile::databasePath(path));
    QVERIFY(holder->locked);
    window->slotStopRecord();
    auto* warning = window->findChild<QLabel*>(QStringLiteral("label_write_state"));
    QTRY_VERIFY(warning->isVisible());
    QCOMPARE(warning->text(), QStringLiteral("Database write failing: 4 samples waiting"));

    boxes.shown.clear();
    for (int answer : answers)
        boxes.answers << QMessageBox::StandardButton(answer);
    boxes.onQuestion = [&] {
        if (boxes.shown.size() == releaseAt)
            holder.reset();
    };
    if (releaseAt == 0)
        holder.reset();
    if (edit)
        window->slotAddDeviceProject();
    else
        window->slotCloseProject();
    holder.reset();
    QCOMPARE(boxes.shown, asked);
    QVERIFY(!warning->isVisible());
    QCOMPARE(storedRows(ProjectFile::databasePath(path)).size(), stored);
}

// Catches: closing a project during the index build waiting for the build's end, asking about
// samples that only waited for the build or losing them; the build not shown in the status bar.
void TestQuillmarMain::closeDuringIndexing()
{
    const QString path = writeProject(projectPath(QStringLiteral("old")), {1});
    const QString database = ProjectFile::databasePath(path);
    const QDateTime time = QDateTime::currentDateTime();
    QVERIFY(writeOldDatabase(database, 1000000, time.addDays(-2).toSecsSinceEpoch()));
    auto window = makeWindow();
    boxes.shown.clear();
    window->startScreen()->projectLoaded(path);
    auto* state = window->findChild<QLabel*>(QStringLiteral("label_index_state"));
    QVERIFY(state->isVisible());
    QVERIFY2(state->text().startsWith(QLatin1String("Indexing database...")),
             qPrintable(state->text()));
    window->slotStartRecord();
    // It starts once its entry is durable.
    QTRY_VERIFY(window->isRecording());
    NodeDevice* node = window->gateways()[0]->nodes()[0];
    for (int i = 0; i < 3; ++i)
        node->setData(QStringLiteral("21.50"), QStringLiteral("45.00"), {}, {}, time.addSecs(i),
                      false);
    window->slotStopRecord();
    QVERIFY(!window->findChild<QLabel*>(QStringLiteral("label_write_state"))->isVisible());

    window->slotCloseProject();
    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(!state->isVisible());
    QCOMPARE(storedRows(database, QStringLiteral("serialno = 'NODE1'")).size(), 4);
    // Interrupted, not waited for: the build left no index behind.
    bool indexed = true;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(database);
        indexed = !db.open() || SampleTable::hasIndex(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    QVERIFY(!indexed);
}

// Catches: the status texts pushed to the right by an expanding spacer after the logo.
void TestQuillmarMain::statusBarSpacers()
{
    auto window = makeWindow();
    auto* status = window->findChild<QFrame*>(QStringLiteral("statusFrame"));
    auto* logo = window->findChild<QLabel*>(QStringLiteral("label_bottom_logo"));
    auto* line = window->findChild<QFrame*>(QStringLiteral("line_4"));
    QTRY_VERIFY(line->isVisible());
    // Two 10-pixel spacers; the layout's spacing falls between widgets only.
    QCOMPARE(line->x() - (logo->x() + logo->width()), 10 + 10 + status->layout()->spacing());
}

void TestQuillmarMain::noDeviceInformation_data()
{
    QTest::addColumn<QString>("content");
    QTest::newRow("empty file") << QString();
    QTest::newRow("list not an object") << "[General]\nDeviceList=@ByteArray([1,2])\n";
    QTest::newRow("no such file") << "-";
}

// Catches: a broken or vanished project replacing the start screen with an empty project.
void TestQuillmarMain::noDeviceInformation()
{
    QFETCH(QString, content);
    const QString path = projectPath(QStringLiteral("broken"));
    if (content != QLatin1String("-")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
    }
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(!window->isProjectOpen());
    QVERIFY(window->startScreen());
    QVERIFY(window->startScreen()->isVisible());
    QVERIFY(window->gateways().isEmpty());
    QCOMPARE(shownMessages(window.get()), QStringList{"ERROR|There is no device information!"});
}

// Catches: a created project without its keys, or an editor offering project actions.
void TestQuillmarMain::createFlow()
{
    const QString path = projectPath(QStringLiteral("fresh"));
    auto window = makeWindow();
    QPointer<ProjectMain> start = window->startScreen();
    start->setFileDialogs([path](QWidget*, const QString&, const QString&,
                                 const QString&) { return path.left(path.size() - 4); },
                          {});
    QTest::mouseClick(start->findChild<QCommandLinkButton*>(QStringLiteral("btn_create")),
                      Qt::LeftButton);
    QVERIFY(window->editor());
    QVERIFY(window->editor()->isVisible());
    QTRY_VERIFY(!start);
    const ProjectFile file(path);
    QCOMPARE(file.value(QStringLiteral("projectName")), QStringLiteral("fresh"));
    QCOMPARE(file.intValue(QStringLiteral("DataInterval")), DefaultDataInterval);
    QCOMPARE(file.value(QStringLiteral("databaseName")), QStringLiteral("fresh.dat"));
    QVERIFY(action(window.get(), "actionClose")->isEnabled());
    QVERIFY(!action(window.get(), "actionAddDelete")->isEnabled());
    window->slotCloseProject();
    QVERIFY(window->startScreen());
    QVERIFY(!window->editor());
    QVERIFY(window->recentProjects().isEmpty());
}

// Catches: editing losing the project's gateways, or the interval changed for an open project.
void TestQuillmarMain::editFlow()
{
    const QString path = writeProject(projectPath(QStringLiteral("edit")), {1, 2}, {0, 4}, 5000);
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QCOMPARE(window->gateways().size(), 2);
    window->slotAddDeviceProject();
    ProjectManager* editor = window->editor();
    QVERIFY(editor);
    QVERIFY(!window->projectCenter());
    QVERIFY(!editor->findChild<QToolButton*>(QStringLiteral("btn_timeInterval"))->isEnabled());
    QCOMPARE(editor->model()->rowCount(), 2);
    QSignalSpy destroyed(editor, &QObject::destroyed);
    editor->slotProjectListConfirm();
    QVERIFY(window->projectCenter());
    QVERIFY(window->isProjectOpen());
    QCOMPARE(window->gateways().size(), 2);
    QCOMPARE(window->gateways()[1]->nodes().size(), 2);
    QTRY_COMPARE(destroyed.count(), 1);
    ProjectData data;
    QVERIFY(ProjectFile(path).load(&data));
    QCOMPARE(data.gateways.size(), 2);
    QCOMPARE(data.dataInterval, 5000);
}

// Catches: the recorder carrying on without its database.
void TestQuillmarMain::databaseFailureEnds()
{
    const QString path = writeProject(projectPath(QStringLiteral("nodb")), {1});
    // A folder where the database file should be cannot be opened as a database.
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("nodb.dat"))));
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->fatalError());
    QVERIFY(boxes.shown.contains(QStringLiteral("ERROR|Create database error!\nExit program.")));
    QVERIFY(!window->isVisible());
}

// Catches: a recent project whose database cannot be opened ending the program on every start,
// before the user can reach the setting that reopens it.
void TestQuillmarMain::databaseFailureAtStart()
{
    const QString path = writeProject(projectPath(QStringLiteral("nodb")), {1});
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("nodb.dat"))));
    {
        QSettings settings = recorderSettings();
        settings.beginGroup(QStringLiteral("RecentProjects"));
        settings.setValue(QStringLiteral("list"), QStringList{"nodb"});
        settings.setValue(QStringLiteral("projects"), QVariantMap{{"nodb", path}});
        settings.setValue(QStringLiteral("autoLoad"), true);
    }
    auto window = makeWindow();
    QVERIFY(!window->fatalError());
    QCOMPARE(boxes.shown.filter(QStringLiteral("ERROR")),
             QStringList{"ERROR|Create database error!\nExit program."});
    QVERIFY(window->isVisible());
    QVERIFY(!window->isProjectOpen());
    QVERIFY(!window->projectCenter());
    QVERIFY(window->gateways().isEmpty());
    QVERIFY(window->startScreen());
    QTRY_VERIFY(window->startScreen()->isVisible());
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("label_projectname"))->text().isEmpty());
    QVERIFY(action(window.get(), "actionAutoLoad")->isChecked());
    QVERIFY(!action(window.get(), "actionClose")->isEnabled());
    QCOMPARE(window->recentProjects(), QStringList{"nodb"});
}

void TestQuillmarMain::launching_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("database");
    QTest::addColumn<bool>("program");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("options"); // after the quoted path, one per line
    QTest::newRow("no database") << "data" << false << true << "WARNING|There is no data file."
                                 << "actionDaily" << QString();
    QTest::newRow("no program") << "data" << true << false
                                << "ERROR|Please check the Tallyforge execution file."
                                << "actionWeekly" << QString();
    QTest::newRow("blanks and apostrophe")
        << "Plant's  data" << true << true << QString() << "actionDaily" << QString();
    QTest::newRow("weekly") << "Plant's  data" << true << true << QString() << "actionWeekly"
                            << "--report\nweekly\n";
    QTest::newRow("monthly") << "data" << true << true << QString() << "actionMonthly"
                             << "--report\nmonthly\n";
    QTest::newRow("HACCP") << "data" << true << true << QString() << "actionHaccp"
                           << "--report\nhaccp\n";
}

// Catches: a report generator started with a path cut at blanks or without its apostrophe,
// without the kind of report chosen in the menu, or although there is nothing to report.
void TestQuillmarMain::launching()
{
    QFETCH(QString, folder);
    QFETCH(bool, database);
    QFETCH(bool, program);
    QFETCH(QString, message);
    QFETCH(QString, entry);
    QFETCH(QString, options);
    const QString path = writeProject(projectPath(QStringLiteral("x"), folder), {1});
    const QString bin = dir->filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString out = dir->filePath(QStringLiteral("args.txt"));
    if (program) {
        QFile script(bin + QStringLiteral("/Tallyforge"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(
            QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1.tmp'\n"
                           "mv '%1.tmp' '%1'\n")
                .arg(out)
                .toLocal8Bit());
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
    }
    qputenv("PATH", QByteArray(bin.toLocal8Bit() + ':' + originalPath));

    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->isProjectOpen());
    if (!database) {
        QVERIFY(QFile::remove(ProjectFile::databasePath(path)));
        QFile::remove(ProjectFile::databasePath(path) + QStringLiteral("-wal"));
        QFile::remove(ProjectFile::databasePath(path) + QStringLiteral("-shm"));
    }
    action(window.get(), qPrintable(entry))->trigger();
    if (!message.isEmpty()) {
        QCOMPARE(shownMessages(window.get()), QStringList{message});
        QCOMPARE(QSettings(path, QSettings::IniFormat).contains(QStringLiteral("record_stop_time")),
                 database);
        return;
    }
    QVERIFY(shownMessages(window.get()).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
    QFile result(out);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(result.readAll()),
             QLatin1Char('\'') + path + QStringLiteral("'\n") + options);
}

// Catches: the top bar's double click and the FullScreen tick drifting apart.
void TestQuillmarMain::fullScreenByDoubleClick()
{
    auto window = makeWindow();
    QAction* full = action(window.get(), "actionFullScreen");
    window->topDblClick();
    QVERIFY(full->isChecked());
    QVERIFY(window->windowState() & Qt::WindowFullScreen);
    window->topDblClick();
    QVERIFY(!full->isChecked());
    QVERIFY(!(window->windowState() & Qt::WindowFullScreen));
}

// Catches: alarms watched only while recording, an indicator that does not count them, a screen
// that cannot be reached from the menu or the indicator, or alarms left active in the log when
// the project closes.
void TestQuillmarMain::alarmsWhileProjectRuns()
{
    const QString path = writeProject(projectPath(QStringLiteral("alarms")), {1});
    auto window = makeWindow();
    auto* indicator = window->alarmIndicator();
    QVERIFY(!indicator->isVisible());
    window->startScreen()->projectLoaded(path);
    QVERIFY(!window->isRecording());
    QVERIFY(indicator->isVisible());
    QCOMPARE(indicator->text(), QStringLiteral("No alarms"));

    // New limits from the option dialog reach the alarms with the project file.
    NodeDevice* node = window->gateways().first()->nodes().first();
    node->setAlarmRanges(10, 30, 0, 0);
    window->slotUpdateProjectFile();
    node->setData(QStringLiteral("35.00"), QString(), QStringLiteral("-1"), QStringLiteral("-1"),
                  QDateTime::currentDateTimeUtc(), false);
    QCOMPARE(indicator->text(), QStringLiteral("Alarms: 1 active, 1 unacknowledged"));
    QVERIFY(window->projectAlarms()->monitor()->soundWanted());

    action(window.get(), "actionAlarms")->trigger();
    QPointer<AlarmScreen> screen = window->alarmScreen();
    QVERIFY(screen && screen->isVisible());
    QCOMPARE(screen->activeModel()->rowCount(), 1);
    screen->close();
    QTRY_VERIFY(!screen);
    QTest::mouseClick(indicator, Qt::LeftButton);
    screen = window->alarmScreen();
    QVERIFY(screen && screen->isVisible());

    const QString database = ProjectFile::databasePath(path);
    window->slotCloseProject();
    QVERIFY(!screen);
    QVERIFY(!indicator->isVisible());
    QCOMPARE(storedRows(database).size(), 0);
    QCOMPARE(DatabasePeek::scalar(database, QStringLiteral("select count(*) from alarm_event where "
                                                           "endReason = 'recorder stopped'")),
             qint64(1));
}

// Catches: a calibration due within 30 days or overdue in the register of the project's
// database not shown in the status bar or on the Alarms screen, or a note left after the project
// closed.
void TestQuillmarMain::calibrationDueShown()
{
    const QString path = writeProject(projectPath(QStringLiteral("calibration")), {1}, {0, 4});
    {
        SqliteConnection db;
        QVERIFY(
            db.open(ProjectFile::databasePath(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
        QString error;
        QVERIFY(CalibrationTable::ensureTable(db.get(), &error));
        const QDate today = QDate::currentDate();
        const struct
        {
            const char* serial;
            int channel;
            QDate due;
        } entries[] = {{"NODE1", 1, today.addDays(12)},
                       {"NODE2", 2, today.addDays(-3)},
                       {"NODE2", 1, today.addDays(200)}};
        qint64 id = 0;
        for (const auto& e : entries) {
            CalibrationRecord r;
            r.id = ++id;
            r.serial = QLatin1String(e.serial);
            r.column = CalibrationRecord::columnOf(e.channel);
            r.certificate = QStringLiteral("K-%1").arg(id);
            r.laboratory = QStringLiteral("Lab");
            r.calibrated = e.due.addYears(-1);
            r.due = e.due;
            r.enteredBy = QStringLiteral("desk");
            r.enteredAt = 1;
            QVERIFY2(CalibrationTable::insert(db.get(), r, &error), qPrintable(error));
        }
    }
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    auto* note = window->findChild<QLabel*>(QStringLiteral("label_calibrationNote"));
    QVERIFY(note);
    QTRY_VERIFY(note->isVisible());
    // The overdue one first, the one due in 12 days after it; the one due in 200 days not at all.
    QVERIFY2(note->text().startsWith(QStringLiteral("Calibration overdue: ")) &&
                 note->text().endsWith(QStringLiteral(" (+1 more)")),
             qPrintable(note->text()));
    const QStringList notes = note->toolTip().split(QLatin1Char('\n'));
    QVERIFY2(notes.size() == 2, qPrintable(note->toolTip()));
    QVERIFY2(notes.at(1).startsWith(QStringLiteral("Calibration due: ")) &&
                 notes.at(1).endsWith(QDate::currentDate().addDays(12).toString(Qt::ISODate)),
             qPrintable(notes.at(1)));
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-calibration-due"));

    action(window.get(), "actionAlarms")->trigger();
    QPointer<AlarmScreen> screen = window->alarmScreen();
    QVERIFY(screen && screen->isVisible());
    auto* listed = screen->findChild<QLabel*>(QStringLiteral("label_calibrationNotes"));
    QVERIFY(listed && listed->isVisible());
    QCOMPARE(listed->text().split(QLatin1Char('\n')), notes);
    window->slotCloseProject();
    QVERIFY(!note->isVisible());
}

// Catches: a scheduled report that failed (no report generator beside the recorder, or e-mail
// off) not shown in the status bar, or its note left after the project closed.
void TestQuillmarMain::reportFailureShown()
{
    const QString path = writeProject(projectPath(QStringLiteral("schedule")), {1});
    ReportScheduleSettings schedule;
    schedule.entries[ReportScheduleSettings::Daily].enabled = true;
    schedule.entries[ReportScheduleSettings::Daily].time = QTime(0, 0);
    schedule.recipients = QStringList{QStringLiteral("qa@example.org")};
    schedule.save(path);
    const QDate today = QDate::currentDate();
    {
        SqliteConnection db;
        QVERIFY(
            db.open(ProjectFile::databasePath(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
        ReportRunRecord r;
        r.kind = QStringLiteral("daily");
        r.first = today.addDays(-3);
        r.last = r.first;
        r.dueMs = QDateTime(today.addDays(-2), QTime(0, 0)).toMSecsSinceEpoch();
        r.madeMs = r.dueMs;
        r.state = ReportRunRecord::stateSent();
        QString error;
        QVERIFY2(ReportRunTable::put(db.get(), r, &error), qPrintable(error));
    }
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    auto* note = window->findChild<QLabel*>(QStringLiteral("label_reportNote"));
    QVERIFY(note);
    QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), 30000);
    QVERIFY2(note->text().startsWith(QStringLiteral("Daily report ") +
                                     today.addDays(-2).toString(Qt::ISODate) +
                                     QStringLiteral(" failed, next try ")),
             qPrintable(note->text()));
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-report-failed"));
    window->slotCloseProject();
    QVERIFY(!note->isVisible());
}

// Catches: "Audit trail..." missing from the project menu, showing another file than the open
// project's database, or staying open with a project closed.
void TestQuillmarMain::auditTrailOfTheProject()
{
    const QString path = writeProject(projectPath(QStringLiteral("audit")), {1});
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    // Entries as the recorder and its users leave them, written by a connection of the test's
    // own while the recorder holds the file.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QStringList rows[] = {
        {"recorder", "recording started", "recording", "", "", "started with the program"},
        {"anna", "setting changed", "Cold room 1 / channel 1 high limit", "8.0", "10.0",
         "Summer stock, door opened more often"},
        {"anna", "user added", "bert", "", "Operator", "New shift lead"},
        {"bert", "sign-in failed", "bert", "", "", ""},
        {"bert", "alarm acknowledged", "Cold room 1 / channel 1 high", "", "",
         "Door closed, \"checked\" at 14:05"},
        {"anna", "setting changed", "interval", "60 s", "30 s", "Audit asked for finer data"},
        {"recorder", "clock jumped", "computer clock", "14:10:02", "15:10:04",
         "wall clock against the monotonic clock"}};
    QVector<AuditEntry> entries;
    for (const QStringList& r : rows)
        entries << AuditFill::entry(now - 3600'000 + (entries.size() + 1) * 420'000, r.at(0),
                                    r.at(1), r.at(2), r.at(3), r.at(4), r.at(5));
    QString error;
    QVERIFY2(AuditFill::append(ProjectFile::databasePath(path), entries, &error),
             qPrintable(error));
    action(window.get(), "actionAuditTrail")->trigger();
    QPointer<AuditTrailDialog> dialog = window->auditTrailDialog();
    QVERIFY(dialog && dialog->isVisible());
    QTRY_COMPARE(dialog->model()->rowCount(), 7);
    QCOMPARE(dialog->model()->entries().first().action, QStringLiteral("clock jumped"));
    QTRY_VERIFY(
        dialog->headText().startsWith(QStringLiteral("Audit trail head: entry 7, SHA-256 ")));
    dialog->resize(1200, 420);
    WindowFit::saveShot(dialog, QStringLiteral("recorder-audit-trail"));
    // The menu shows the one dialog again rather than a second.
    action(window.get(), "actionAuditTrail")->trigger();
    QCOMPARE(window->findChildren<AuditTrailDialog*>().size(), 1);
    window->slotCloseProject();
    QTRY_VERIFY(!dialog);
}

// Catches: "Test alarms..." missing from the Record menu, a test started with no target that
// leaves the button dead or claims a result, a second dialog, a dialog outliving its project.
void TestQuillmarMain::alarmTestFromTheMenu()
{
    const QString path = writeProject(projectPath(QStringLiteral("alarmtest")), {1});
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->findChild<QMenu*>(QStringLiteral("menuRecord"))
                ->actions()
                .contains(action(window.get(), "actionTestAlarms")));
    action(window.get(), "actionTestAlarms")->trigger();
    QPointer<AlarmTestDialog> dialog = window->findChild<AlarmTestDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    auto* nodes = dialog->findChild<QComboBox*>(QStringLiteral("comboBox_node"));
    QCOMPARE(nodes->count(), 2); // all nodes and the project's one
    auto* run = dialog->findChild<QPushButton*>(QStringLiteral("pushButton_run"));
    QTest::mouseClick(run, Qt::LeftButton);
    auto* status = dialog->findChild<QLabel*>(QStringLiteral("label_status"));
    QTRY_VERIFY(status->text().startsWith(QStringLiteral("No notification or forwarding target")));
    QVERIFY(run->isEnabled());
    action(window.get(), "actionTestAlarms")->trigger();
    QCOMPARE(window->findChildren<AlarmTestDialog*>().size(), 1);
    window->slotCloseProject();
    QTRY_VERIFY(!dialog);
}

// Catches: "Users..." missing from the project menu, an indicator of who
// is signed in that is shown without access control, does not follow the sign-in, or outlives
// the project, and a Users dialog left open with the project closed.
void TestQuillmarMain::usersOfTheProject()
{
    const QString path = writeProject(projectPath(QStringLiteral("users")), {1});
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    SignInSession* session = window->signInSession();
    QTRY_VERIFY(session->isReady());
    SignInStatus* status = window->signInStatus();
    QVERIFY(!status->isVisible());

    // Without access control the dialog opens for anyone at the desk.
    action(window.get(), "actionUsers")->trigger();
    QPointer<UsersDialog> dialog = window->usersDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->addButton()->text(), QStringLiteral("Add the first Administrator..."));
    dialog->close();
    QTRY_VERIFY(!dialog);

    const QByteArray annaPassword = "anna-password-1";
    const QByteArray olgaPassword = "olga-password-2";
    bool added = false;
    QString error;
    session->run(
        [&](UserDirectory& users, QString* e) {
            return users.add(QStringLiteral("desk"), QStringLiteral("anna"),
                             AccessPolicy::Role::Administrator, annaPassword,
                             QStringLiteral("set up"), e) &&
                   users.add(QStringLiteral("desk"), QStringLiteral("olga"),
                             AccessPolicy::Role::Operator, olgaPassword, QStringLiteral("set up"),
                             e);
        },
        [&](bool ok, const QString& e) {
            added = ok;
            error = e.isEmpty() ? QStringLiteral("done") : e;
        });
    QTRY_VERIFY_WITH_TIMEOUT(!error.isEmpty(), 30000);
    QVERIFY2(added, qPrintable(error));
    QVERIFY(status->isVisible());
    QCOMPARE(status->label()->text(), QStringLiteral("Not signed in"));
    QCOMPARE(status->button()->text(), QStringLiteral("Sign in"));

    // Waited for without a nested event loop: an earlier case ends the program's loop for good
    // (QCoreApplication::exit), which makes every later exec() return at once.
    QSignalSpy signedIn(session, &SignInSession::signInFinished);
    session->signIn(QStringLiteral("olga"), olgaPassword);
    QTRY_COMPARE_WITH_TIMEOUT(signedIn.size(), 1, 30000);
    QCOMPARE(status->label()->text(), QStringLiteral("Signed in: olga (Operator)"));

    session->signIn(QStringLiteral("anna"), annaPassword);
    QTRY_COMPARE_WITH_TIMEOUT(signedIn.size(), 2, 30000);
    QCOMPARE(status->label()->text(), QStringLiteral("Signed in: anna (Administrator)"));
    QCOMPARE(status->button()->text(), QStringLiteral("Sign out"));
    // The button has its room in the status bar; the text gives way first.
    QVERIFY(status->button()->width() >= status->button()->sizeHint().width());
    QVERIFY(status->label()->geometry().right() < status->button()->geometry().left());
    const auto* signedInLabel = qobject_cast<const ElidedLabel*>(status->label());
    QVERIFY(signedInLabel);
    QVERIFY2(signedInLabel->shownText().startsWith(QStringLiteral("Signed in: anna")),
             qPrintable(signedInLabel->shownText()));
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-signed-in"));
    // With room enough the whole text shows.
    window->resize(1440, 620);
    QTRY_COMPARE(signedInLabel->shownText(), QStringLiteral("Signed in: anna (Administrator)"));
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-signed-in-wide"));
    action(window.get(), "actionUsers")->trigger();
    dialog = window->usersDialog();
    QVERIFY(dialog && dialog->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(dialog->model()->rowCount(), 2, 10000);

    window->slotCloseProject();
    QVERIFY(!dialog);
    QVERIFY(!status->isVisible());
}

void TestQuillmarMain::forwardingWhileProjectRuns_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("markup"); // the server answers with a page of markup
    QTest::addColumn<QString>("user");
    QTest::newRow("off") << false << false << QString();
    QTest::newRow("on, server away") << true << false << QString();
    QTest::newRow("on, server answers with markup") << true << true << QString();
    // A login over http saved before the choice existed: it goes on, and the status bar warns.
    QTest::newRow("on, login over http from before") << true << false << QStringLiteral("writer");
}

// Catches: a project with forwarding off that forwards or shows anything of it; one with it on
// whose failing target is not told in the status bar (nor why, in its tool tip), or that holds
// up the window; a server's markup shown as rich text in the tool tip.
void TestQuillmarMain::forwardingWhileProjectRuns()
{
    QFETCH(bool, on);
    QFETCH(bool, markup);
    QFETCH(QString, user);
    const QString path = writeProject(projectPath(QStringLiteral("forwarding")), {1});
    ForwardingSettings settings;
    settings.influx.enabled = on;
    // Nothing listens on port 9 of the loopback.
    settings.influx.url = QStringLiteral("http://127.0.0.1:9");
    WebhookReceiver server;
    if (markup) {
        QVERIFY(server.listen());
        server.setAnswer(502, "Bad Gateway", "<html><body><b>Bad gateway</b></body></html>");
        settings.influx.url = server.url(QString());
    }
    settings.influx.database = QStringLiteral("sites");
    settings.influx.user = user;
    settings.save(path);
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->isProjectOpen());
    QLabel* label = window->forwardingLabel();
    if (!on) {
        QVERIFY(!window->projectForwarding()->forwarder());
        QVERIFY(!label->isVisible());
        return;
    }
    // With a login, made once its password has been looked up.
    QTRY_VERIFY_WITH_TIMEOUT(window->projectForwarding()->forwarder(), 10000);
    if (user.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("Forwarding: InfluxDB failing"),
                                  10000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith(QLatin1String("Forwarding: InfluxDB "
                                                                        "failing; ")),
                                 10000);
        QVERIFY2(label->text().endsWith(
                     QLatin1String("InfluxDB password sent unencrypted: choose in Forwarding")),
                 qPrintable(label->text()));
    }
    QVERIFY(label->isVisible());
    // The tool tip adds the last error, the server's words as plain text, whatever markup it
    // holds (a tool tip that looks like rich text is shown as such).
    QTextDocument tip;
    tip.setHtml(label->toolTip());
    QVERIFY2(tip.toPlainText().startsWith(label->text() + QStringLiteral("\nInfluxDB: ")),
             qPrintable(label->toolTip()));
    if (markup)
        QVERIFY2(tip.toPlainText().contains(QLatin1String("<b>Bad gateway</b>")),
                 qPrintable(label->toolTip()));
    action(window.get(), "actionForwarding")->trigger();
    auto* dialog = window->findChild<QDialog*>(QStringLiteral("ForwardingDialog"));
    QVERIFY(dialog && dialog->isVisible());
    dialog->close();
    window->slotCloseProject();
    QVERIFY(!label->isVisible());
}

// Catches: a notification dialog that cannot be reached from the Project menu or shows another
// project's settings, an alarm that sends nothing, a failing outbox the status bar keeps quiet
// about (or goes on showing without a project), or a message lost when the project closes.
void TestQuillmarMain::notificationsWhileProjectRuns_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("storedFor");
    QTest::addColumn<QString>("note");
    QTest::newRow("relay without login") << QString() << QString() << QString();
    // A login on a server without TLS, saved before the choice existed, its password kept
    // before passwords were bound to their server: it goes on, and the status bar warns.
    QTest::newRow("login from before the choice")
        << QStringLiteral("rec") << QString()
        << QStringLiteral("E-mail password sent unencrypted: choose in Notifications");
    // The shared project file names another server than the password was kept for.
    QTest::newRow("password kept for another server")
        << QStringLiteral("rec") << QStringLiteral("smtp://rec@mail.evil.example:25")
        << QStringLiteral("E-mail password kept for another server: enter it again in "
                          "Notifications");
}

void TestQuillmarMain::notificationsWhileProjectRuns()
{
    QFETCH(QString, user);
    QFETCH(QString, storedFor);
    QFETCH(QString, note);
    // The secrets in the test's own file, whatever bus the machine has.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QDir(QFileInfo(SecretStore::filePath()).path()).removeRecursively();
    const QString path = writeProject(projectPath(QStringLiteral("notify")), {1});
    quint16 port = 0;
    {
        // A mail server that is down: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    NotificationSettings settings;
    settings.emailEnabled = true;
    settings.smtpHost = QStringLiteral("127.0.0.1");
    settings.smtpPort = port;
    settings.smtpSecurity = SmtpSecurity::None;
    settings.sender = QStringLiteral("recorder@store.example");
    settings.recipients = QStringList{QStringLiteral("duty@store.example")};
    settings.smtpUser = user;
    // A password kept from before binding goes with a file saved without the choice's key, as
    // both were before the choice existed.
    if (!storedFor.isEmpty())
        settings.smtpCleartext = CleartextPassword::Allowed;
    settings.save(path);
    if (!user.isEmpty()) {
        SecretStore store(QFileInfo(path).canonicalFilePath());
        store.setBackend(SecretStore::Backend::File);
        QSignalSpy written(&store, &SecretStore::written);
        store.write(NotificationSettings::smtpPasswordSecret(), QStringLiteral("pw"), storedFor);
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), 1, 10000);
        QVERIFY(written.first().at(1).toBool());
    }
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);

    action(window.get(), "actionNotifications")->trigger();
    auto* dialog = window->findChild<NotificationDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->settings().smtpPort, port);
    QCOMPARE(dialog->settings().recipients, settings.recipients);
    // Where the secrets are kept is said once the store has looked.
    QTRY_VERIFY_WITH_TIMEOUT(dialog->secretStore()->backend() != SecretStore::Backend::Undecided,
                             10000);
    WindowFit::saveShot(dialog, QStringLiteral("recorder-notification-dialog"));
    dialog->reject();

    OutboxIndicator* outbox = window->outboxIndicator();
    if (note.isEmpty())
        QVERIFY(!outbox->isVisible());
    else
        QTRY_COMPARE_WITH_TIMEOUT(outbox->text(), note, 10000);
    NodeDevice* node = window->gateways().first()->nodes().first();
    node->setAlarmRanges(10, 30, 0, 0);
    window->slotUpdateProjectFile();
    node->setData(QStringLiteral("35.00"), QString(), QStringLiteral("-1"), QStringLiteral("-1"),
                  QDateTime::currentDateTimeUtc(), false);
    QTRY_VERIFY_WITH_TIMEOUT(outbox->isVisible(), 20000);
    QTRY_VERIFY2_WITH_TIMEOUT(
        outbox->text().startsWith(QStringLiteral("Notifications: 1 not sent (")),
        qPrintable(outbox->text()), 20000);
    QVERIFY2(outbox->text().endsWith(note), qPrintable(outbox->text()));
    QVERIFY(!outbox->toolTip().isEmpty());
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-outbox-failing"));

    const QString database = ProjectFile::databasePath(path);
    window->slotCloseProject();
    QVERIFY(!outbox->isVisible());
    QCOMPARE(DatabasePeek::scalar(database, QStringLiteral("select count(*) from "
                                                           "notification_outbox where sentAt is "
                                                           "null and kind = 'start'")),
             qint64(1));
}

void TestQuillmarMain::editedSettingsWait_data()
{
    QTest::addColumn<QString>("decision"); // the dialog's button
    QTest::addColumn<bool>("recording");
    QTest::addColumn<QString>("runsOn");    // the node's name once decided
    QTest::addColumn<QStringList>("files"); // beside the project at the end
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("accepted") << QStringLiteral("Accept") << false
                              << QStringLiteral("Blast freezer") << QStringList() << QStringList();
    QTest::newRow("rejected") << QStringLiteral("Reject") << false << QStringLiteral("Node 1")
                              << QStringList{QStringLiteral("edited.tpc.rejected")}
                              << QStringList();
    QTest::newRow("accept while recording")
        << QStringLiteral("Accept") << true << QStringLiteral("Node 1")
        << QStringList{QStringLiteral("edited.tpc.edited")}
        << QStringList{QStringLiteral("WARNING|Stop recording first.")};
}

// Catches: a project file edited by hand under access control run as edited without a
// Supervisor, the edited file lost instead of set aside, no notice that edits wait, differences
// not listed, an accept that does not take the edits up (or takes them up under a running
// recording) and a decision not recorded with its user and reason.
void TestQuillmarMain::editedSettingsWait()
{
    QFETCH(QString, decision);
    QFETCH(bool, recording);
    QFETCH(QString, runsOn);
    QFETCH(QStringList, files);
    QFETCH(QStringList, messages);
    const QString path = writeProject(projectPath(QStringLiteral("edited")), {1});
    const QString database = ProjectFile::databasePath(path);
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    // Its first settings accepted are in the file once the project closes.
    window->slotCloseProject();
    std::optional<AuditEntry> accepted;
    QString error;
    QTRY_VERIFY_WITH_TIMEOUT(AuditLookup::latest(database, {ProjectAudit::settingsAcceptedAction()},
                                                 std::numeric_limits<qint64>::max(), &accepted,
                                                 &error) &&
                                 accepted,
                             30000);
    {
        SqliteConnection connection;
        QVERIFY2(UserTable::open(&connection, database, 5000, &error), qPrintable(error));
        UserDirectory users(connection.get(), UserDirectory::Clock(), PasswordHash::least());
        QVERIFY2(users.add(QStringLiteral("root"), QStringLiteral("sue"),
                           AccessPolicy::Role::Administrator, QByteArrayLiteral("correct horse 1"),
                           QString(), &error),
                 qPrintable(error));
    }
    // Edited by hand while the recorder was closed.
    ProjectData data;
    ProjectFile(path).load(&data);
    data.gateways[0].nodes[0].deviceName = QStringLiteral("Blast freezer");
    data.gateways[0].nodes[0].ch1Max = 12;
    ProjectFile(path).saveDeviceList(data.gateways);

    window->startScreen()->projectLoaded(path);
    QCOMPARE(window->gateways().at(0)->nodes().at(0)->configuration().deviceName,
             QStringLiteral("Node 1"));
    QVERIFY(QFileInfo::exists(path + EditedSettings::editedSuffix()));
    QTRY_VERIFY(window->editedSettingsButton()->isVisible());
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-edited-settings-notice"));
    window->signInSession()->signIn(QStringLiteral("sue"), QByteArrayLiteral("correct horse 1"));
    QTRY_VERIFY_WITH_TIMEOUT(window->signInSession()->user().has_value(), 10000);
    QStringList listed;
    bool signatureGiven = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        auto* dialog = window->findChild<EditedSettingsDialog*>();
        auto* reason = window->findChild<ReasonDialog*>();
        if (dialog && dialog->isVisible() && listed.isEmpty()) {
            for (int i = 0; i < dialog->list()->count(); ++i)
                listed << dialog->list()->item(i)->text();
            WindowFit::saveShot(dialog, QStringLiteral("recorder-edited-settings"));
            (decision == QLatin1String("Accept") ? dialog->acceptButton() : dialog->rejectButton())
                ->click();
        } else if (reason && reason->isVisible()) {
            reason->textEdit()->setPlainText(QStringLiteral("checked with QA"));
            reason->okButton()->click();
        } else if (auto* signature = window->findChild<SignatureDialog*>();
                   signature && signature->isVisible() && !signatureGiven) {
            // An acceptance is signed: her id and password, typed.
            signatureGiven = true;
            QTest::keyClicks(signature->userField(), QStringLiteral("sue"));
            QTest::keyClicks(signature->passwordField(), QStringLiteral("correct horse 1"));
            signature->confirm();
        }
    });
    // Under access control starting and stopping ask for a reason too: the driver answers it.
    driver.start(20);
    if (recording) {
        window->slotToggleRecord();
        QTRY_VERIFY(window->isRecording());
    }
    window->editedSettingsButton()->click();
    QCOMPARE(listed, (QStringList{QStringLiteral("node NODE1, channel 1 range: 0.00 to 0.00 -> "
                                                 "0.00 to 12.00"),
                                  QStringLiteral("node NODE1, name: Node 1 -> Blast freezer")}));
    QCOMPARE(shownMessages(window.get()), messages);
    if (recording)
        window->slotToggleRecord();
    // An acceptance waits for its signature (checked on the session's thread).
    if (!recording)
        QTRY_VERIFY_WITH_TIMEOUT(!window->editedSettingsButton()->isVisible(), 10000);
    driver.stop();
    // An acceptance opens the project again once it is in the file.
    QTRY_COMPARE_WITH_TIMEOUT(window->gateways().at(0)->nodes().at(0)->configuration().deviceName,
                              runsOn, 30000);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList({QStringLiteral("edited.tpc.*")}), files);
    if (recording)
        return;
    std::optional<AuditEntry> decided;
    const QString action = decision == QLatin1String("Accept")
                               ? ProjectAudit::settingsAcceptedAction()
                               : ProjectAudit::rejectedAction();
    QTRY_VERIFY_WITH_TIMEOUT(AuditLookup::latest(database, {action},
                                                 std::numeric_limits<qint64>::max(), &decided,
                                                 &error) &&
                                 decided && decided->sequence > accepted->sequence,
                             30000);
    QCOMPARE(decided->user, QStringLiteral("sue"));
    QCOMPARE(decided->reason, QStringLiteral("checked with QA"));
    // An acceptance is signed by her; a rejection is not signed.
    QCOMPARE(signatureGiven, decision == QLatin1String("Accept"));
    std::optional<AuditEntry> signedEntry;
    auto lookUp = [&] {
        return AuditLookup::latest(database, {QStringLiteral("signed")},
                                   std::numeric_limits<qint64>::max(), &signedEntry, &error) &&
               signedEntry.has_value();
    };
    if (decision == QLatin1String("Accept"))
        QTRY_VERIFY_WITH_TIMEOUT(lookUp(), 10000);
    else
        QVERIFY(!lookUp());
    if (signedEntry) {
        QCOMPARE(signedEntry->user, QStringLiteral("sue"));
        QCOMPARE(signedEntry->object, QStringLiteral("edited settings edited.tpc.edited"));
        QVERIFY2(signedEntry->newValue.startsWith(QStringLiteral("accepted; record SHA-256 ")),
                 qPrintable(signedEntry->newValue));
    }
}

void TestQuillmarMain::keyProblemsShown_data()
{
    QTest::addColumn<QString>("lines"); // added to the project file
    // Empty: the lines are there when the project opens; else added while it runs, and the
    // notification ("notifications") or forwarding settings read again as after their dialog.
    QTest::addColumn<QString>("reread");
    QTest::addColumn<QStringList>("problems");
    const QString recipients = QStringLiteral("Project file key NotifyRecipients holds no text");
    const QString mqttHost = QStringLiteral("Project file key ForwardMqttHost holds no text");
    QTest::newRow("recipients a rectangle")
        << "NotifyRecipients=@Rect(1 2 3 4)" << QString() << QStringList{recipients};
    QTest::newRow("forwarding host a size")
        << "ForwardMqttHost=@Size(3 4)" << QString() << QStringList{mqttHost};
    QTest::newRow("project name a point")
        << "projectName=@Point(1 2)" << QString()
        << QStringList{QStringLiteral("Project file key projectName holds no text")};
    // Read by two parts of the recorder: one message for both.
    QTest::newRow("two keys") << "ForwardMqttHost=@Size(3 4)\nNotifyRecipients=@Rect(1 2 3 4)"
                              << QString() << QStringList{recipients, mqttHost};
    QTest::newRow("recipients read again") << "NotifyRecipients=@Rect(1 2 3 4)"
                                           << "notifications" << QStringList{recipients};
    // Fault: a schedule key out of bounds read as the default without a word.
    QTest::newRow("report time out of bounds")
        << "ReportScheduleDailyTime=25:00" << QString()
        << QStringList{QStringLiteral("ReportScheduleDailyTime: not a time hh:mm, 06:00 used")};
    QTest::newRow("forwarding URL read again")
        << "ForwardInfluxUrl=@Rect(1 2 3 4)"
        << "forwarding"
        << QStringList{QStringLiteral("Project file key ForwardInfluxUrl holds no text")};
}

// Catches: a project-file key that cannot be read (and so reads as its default) told only in a
// trace, which no user sees, whether the project opens with it or its notification or
// forwarding settings are read again; a notice that stays once the file is mended or the
// project closes.
void TestQuillmarMain::keyProblemsShown()
{
    QFETCH(QString, lines);
    QFETCH(QString, reread);
    QFETCH(QStringList, problems);
    const QString path = writeProject(projectPath(QStringLiteral("keys")), {1});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray sound = file.readAll();
    file.close();
    auto write = [&path](const QByteArray& data) {
        QFile out(path);
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               out.write(data) == data.size();
    };
    auto readAgain = [&reread](QuillmarMain* w) {
        if (reread == QLatin1String("notifications"))
            w->projectNotifications()->reload();
        else
            w->projectForwarding()->restart();
    };
    const QByteArray broken = sound + lines.toUtf8() + '\n';
    if (reread.isEmpty())
        QVERIFY(write(broken));
    auto window = makeWindow();
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->isProjectOpen());
    QLabel* label = window->keyProblemLabel();
    if (!reread.isEmpty()) {
        QVERIFY(!label->isVisible());
        QVERIFY(write(broken));
        readAgain(window.get());
    }
    // Forwarding settings read again take effect once their entry is durable.
    QTRY_VERIFY(label->isVisible());
    QCOMPARE(label->text(),
             problems.size() == 1 ? problems.first() : problems.first() + QStringLiteral(" (+1)"));
    QTextDocument tip;
    tip.setHtml(label->toolTip());
    QCOMPARE(tip.toPlainText(), problems.join(QLatin1Char('\n')));
    // In the room the status bar leaves it, both ends of the notice are in sight: a long first
    // problem is elided in the middle, never cut off with its "(+N)".
    const auto* notice = qobject_cast<const ElidedLabel*>(label);
    QVERIFY(notice);
    const QString shown = notice->shownText();
    QVERIFY2(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width(),
             qPrintable(shown));
    QCOMPARE(shown.right(4), label->text().right(4));
    // Told once in a message that waits for no answer.
    QTRY_COMPARE(shownMessages(window.get(), false).size(), 1);
    WindowFit::saveShot(window.get(), QStringLiteral("recorder-key-problem"));
    WindowFit::saveShot(window->findChild<MessageDialog*>(),
                        QStringLiteral("recorder-key-problem-message"));
    QCOMPARE(shownMessages(window.get()),
             QStringList{QStringLiteral("WARNING|") + problems.join(QLatin1Char('\n')) +
                         QStringLiteral("\nThe default is used instead. Correct the project "
                                        "file.")});
    if (!reread.isEmpty()) {
        QVERIFY(write(sound));
        readAgain(window.get());
        QTRY_VERIFY(!label->isVisible());
    }
    window->slotCloseProject();
    QVERIFY(!label->isVisible());
    QVERIFY(shownMessages(window.get()).isEmpty());
}

// Catches a screen of the recorder that makes its window larger than a 1280x720 screen less a
// desktop panel, or that leaves buttons, lists or charts out of a window of that size or of its
// smallest size.
void TestQuillmarMain::fitsSmallScreen()
{
    // The most the editor allows: 16 nodes, 8 to a gateway.
    const QString path = writeProject(projectPath(QStringLiteral("full")), {1, 2},
                                      {0, 4, 8, 12, 16, 20, 24, 28}, 1000);
    auto window = makeWindow();
    auto check = [&](const char* screen) {
        const QSize smallest = WindowFit::smallest(window.get());
        QVERIFY2(smallest.width() <= 1024 && smallest.height() <= 600,
                 qPrintable(QStringLiteral("%1: %2x%3")
                                .arg(QLatin1String(screen))
                                .arg(smallest.width())
                                .arg(smallest.height())));
        for (const QSize& size : {WindowFit::SmallScreen, smallest}) {
            window->resize(size);
            QCOMPARE(window->size(), size);
            WindowFit::saveShot(window.get(), QStringLiteral("recorder-%1-%2x%3")
                                                  .arg(QLatin1String(screen))
                                                  .arg(size.width())
                                                  .arg(size.height()));
            const QStringList outside = WindowFit::outside(window.get());
            QVERIFY2(outside.isEmpty(), qPrintable(QLatin1String(screen) + QStringLiteral(": ") +
                                                   outside.join(QStringLiteral("; "))));
        }
    };
    check("start screen");
    if (QTest::currentTestFailed())
        return;
    window->startScreen()->projectLoaded(path);
    QVERIFY(window->isProjectOpen());
    check("dashboard");
    if (QTest::currentTestFailed())
        return;
    // A value out of range on a tile, and the alarm indicator counting it.
    NodeDevice* node = window->gateways().first()->nodes().first();
    node->setAlarmRanges(10, 30, 0, 0);
    window->slotUpdateProjectFile();
    node->setData(QStringLiteral("35.00"), QString(), QStringLiteral("-1"), QStringLiteral("-1"),
                  QDateTime::currentDateTimeUtc(), false);
    QVERIFY(window->alarmIndicator()->text().startsWith(QStringLiteral("Alarms: 1 active")));
    check("dashboard with an alarm");
    if (QTest::currentTestFailed())
        return;
    window->projectCenter()->slotDeviceClicked(window->gateways().first()->nodes().first());
    QVERIFY(!window->projectCenter()->isDashboardShown());
    check("chart panel");
    if (QTest::currentTestFailed())
        return;
    window->slotAddDeviceProject();
    QVERIFY(window->editor());
    check("editor");
}

// A check inside a function answering bool: a failure answers false.
#define QVERIFY_WITH_FALSE(condition)                                                              \
    do {                                                                                           \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__))     \
            return false;                                                                          \
    } while (false)

namespace {

QVector<AuditEntry> auditTrail(const QString& database)
{
    SqliteConnection connection;
    QString error;
    QVector<AuditEntry> entries;
    if (!UserTable::open(&connection, database, 5000, &error) ||
        !AuditTrail::read(connection.get(), 1, std::numeric_limits<qint64>::max(), &entries,
                          &error))
        qWarning("%s", qPrintable(error));
    return entries;
}

const QByteArray DeskPassword = "desk-password-1";

} // namespace

// Each changing action of the window, tried by each role, by nobody signed in, and without
// access control. Catches: a change made without the role, or without a sign-in or a reason
// under access control; a sign-in or reason asked for without it; a refusal not recorded; a
// change recorded under another name or without its reason; an acknowledgement in a typed name
// instead of the signed-in user's.
void TestQuillmarMain::changingActionsByRole_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("who"); // "off": no access control; "": nobody signs in
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("recorded"); // the action of the change's entry; "": none

    const struct
    {
        const char* change;
        const char* least;
        const char* recorded;
    } changes[] = {{"start recording", "Supervisor", "recording started"},
                   {"stop recording", "Supervisor", "recording stopped"},
                   {"node settings", "Supervisor", "setting changed"},
                   {"notifications", "Supervisor", ""},
                   {"forwarding", "Supervisor", ""},
                   {"auto record", "Supervisor", "setting changed"},
                   {"gateways", "Administrator", ""},
                   {"users", "Administrator", ""},
                   {"backups", "Administrator", "setting changed"},
                   {"acknowledge", "Operator", "alarm acknowledged"}};
    const QStringList roles = {"Operator", "Supervisor", "Administrator"};
    for (const auto& c : changes) {
        const QString change = QLatin1String(c.change);
        const int least = roles.indexOf(QLatin1String(c.least));
        QTest::addRow("%s, access control off", c.change)
            << change << "off" << true << QString::fromLatin1(c.recorded);
        QTest::addRow("%s, nobody signed in", c.change)
            << change << QString() << false << QString::fromLatin1(c.recorded);
        for (int r = 0; r < roles.size(); ++r)
            QTest::addRow("%s, %s", c.change, qPrintable(roles.at(r)))
                << change << roles.at(r) << (r >= least) << QString::fromLatin1(c.recorded);
    }
}

void TestQuillmarMain::changingActionsByRole()
{
    QFETCH(QString, change);
    QFETCH(QString, who);
    QFETCH(bool, allowed);
    QFETCH(QString, recorded);

    const QString path = writeProject(projectPath(QStringLiteral("gated")), {1});
    const QString database = ProjectFile::databasePath(path);
    auto window = makeWindow();
    SignInSession* session = window->signInSession();
    session->setCost(PasswordHash::least());
    window->startScreen()->projectLoaded(path);
    QTRY_VERIFY_WITH_TIMEOUT(session->isReady(), 10000);
    NodeDevice* node = window->gateways().first()->nodes().first();

    // What the change needs in place, made before access control is on.
    if (change == QLatin1String("stop recording")) {
        window->slotStartRecord();
        QTRY_VERIFY(window->isRecording());
    } else if (change == QLatin1String("acknowledge")) {
        node->setAlarmRanges(10, 30, 0, 0);
        window->slotUpdateProjectFile();
        node->setData(QStringLiteral("35.00"), QString(), QStringLiteral("-1"),
                      QStringLiteral("-1"), QDateTime::currentDateTimeUtc(), false);
        action(window.get(), "actionAlarms")->trigger();
        QVERIFY(window->alarmScreen());
        QTRY_COMPARE(window->alarmScreen()->activeModel()->rowCount(), 1);
        window->alarmScreen()
            ->findChild<QTableView*>(QStringLiteral("tableView_active"))
            ->selectRow(0);
    }

    const bool accessControl = who != QLatin1String("off");
    if (accessControl) {
        bool done = false;
        QString error;
        session->run(
            [](UserDirectory& users, QString* e) {
                return users.add(QStringLiteral("desk"), QStringLiteral("ada"),
                                 AccessPolicy::Role::Administrator, DeskPassword,
                                 QStringLiteral("first"), e) &&
                       users.add(QStringLiteral("desk"), QStringLiteral("sam"),
                                 AccessPolicy::Role::Supervisor, DeskPassword,
                                 QStringLiteral("shift lead"), e) &&
                       users.add(QStringLiteral("desk"), QStringLiteral("olga"),
                                 AccessPolicy::Role::Operator, DeskPassword,
                                 QStringLiteral("night shift"), e);
            },
            [&](bool ok, const QString& e) {
                done = true;
                error = ok ? QString() : e;
            });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(session->accessControlOn(), 10000);
    }
    const QMap<QString, QString> names = {{QStringLiteral("Operator"), QStringLiteral("olga")},
                                          {QStringLiteral("Supervisor"), QStringLiteral("sam")},
                                          {QStringLiteral("Administrator"), QStringLiteral("ada")}};
    const QString user = !accessControl ? ProjectAudit::desktopUser() : names.value(who);

    // The person at the desk: signs in as asked (as the row's user, or not at all), and gives
    // a reason for what is asked.
    int signInAsks = 0;
    QStringList reasonAsks;
    window->accessGate()->setAsks(
        [&](SignInSession* asked, AccessPolicy::Action wanted, const QString&) {
            ++signInAsks;
            if (user.isEmpty())
                return false;
            QSignalSpy finished(asked, &SignInSession::signInFinished);
            asked->signIn(user, DeskPassword);
            // Not QSignalSpy::wait(): its event loop ends at once after an earlier case's
            // QCoreApplication::exit().
            return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 10000) &&
                   asked->allows(wanted);
        },
        [&](const QString& what, QString* reason) {
            reasonAsks << what;
            // The window's own dialog, typed into as a person would, without its modal loop.
            ReasonDialog dialog(what, window.get());
            dialog.show();
            QVERIFY_WITH_FALSE(!dialog.okButton()->isEnabled());
            QTest::keyClicks(dialog.textEdit(), QStringLiteral("Because: ") + what);
            QVERIFY_WITH_FALSE(dialog.okButton()->isEnabled());
            if (QTest::currentDataTag() == QLatin1String("node settings, Supervisor"))
                WindowFit::saveShot(window.get(), &dialog,
                                    QStringLiteral("recorder-reason-dialog"));
            *reason = dialog.reason();
            return true;
        });
    // A signature: the window's own dialog, typed into as a person would (the id and the
    // password of the user signed in).
    int signatureAsks = 0;
    window->accessGate()->setSignatureAsk([&](SignInSession* asked, const QString& meaning,
                                              const QString& what,
                                              const AccessGate::SignatureDone& done) {
        ++signatureAsks;
        auto* dialog = new SignatureDialog(asked, meaning, what, window.get());
        QObject::connect(dialog, &SignatureDialog::signedBy,
                         [done](const SignatureGrant& grant) { done(grant); });
        QObject::connect(dialog, &SignatureDialog::cancelled, [done] { done(std::nullopt); });
        dialog->show();
        QTest::keyClicks(dialog->userField(), user);
        QTest::keyClicks(dialog->passwordField(), QString::fromUtf8(DeskPassword));
        if (QTest::currentDataTag() == QLatin1String("acknowledge, Operator"))
            WindowFit::saveShot(window.get(), dialog, QStringLiteral("recorder-signature-dialog"));
        dialog->confirm();
    });
    const int entriesBefore = auditTrail(database).size();

    // The change, as the window's controls make it; `made` tells whether it went ahead.
    bool made = false;
    if (change == QLatin1String("start recording")) {
        window->projectCenter()->slotRecord();
        // Allowed, it starts once its entry is durable; refused, it never does.
        made = QTest::qWaitFor([&] { return window->isRecording(); }, 2000);
    } else if (change == QLatin1String("stop recording")) {
        window->projectCenter()->slotRecord();
        made = !window->isRecording();
    } else if (change == QLatin1String("node settings")) {
        window->projectCenter()->slotDeviceClicked(node);
        window->projectCenter()->slotPopupSensingOption();
        auto* dialog = window->projectCenter()->findChild<SensingOptionDialog*>();
        made = dialog != nullptr;
        if (dialog) {
            // As its confirmation does: the ranges into the node, then the centre told.
            node->setAlarmRanges(12, 28, 0, 0);
            window->projectCenter()->slotSensingConfirm();
            dialog->close();
        }
    } else if (change == QLatin1String("notifications")) {
        action(window.get(), "actionNotifications")->trigger();
        auto* dialog = window->findChild<NotificationDialog*>();
        made = dialog && dialog->isVisible();
        if (dialog)
            dialog->reject();
    } else if (change == QLatin1String("forwarding")) {
        action(window.get(), "actionForwarding")->trigger();
        auto* dialog = window->findChild<QDialog*>(QStringLiteral("ForwardingDialog"));
        made = dialog && dialog->isVisible();
        if (dialog)
            dialog->close();
    } else if (change == QLatin1String("auto record")) {
        QAction* autoRecord = action(window.get(), "actionAutoRecord");
        autoRecord->trigger();
        made = autoRecord->isChecked();
    } else if (change == QLatin1String("gateways")) {
        action(window.get(), "actionAddDelete")->trigger();
        made = window->editor() != nullptr;
    } else if (change == QLatin1String("backups")) {
        action(window.get(), "actionBackups")->trigger();
        auto* dialog = window->findChild<BackupDialog*>();
        made = dialog && dialog->isVisible();
        if (dialog) {
            const QString folder = QFileInfo(path).absolutePath() + QStringLiteral("/backups");
            QVERIFY(QDir().mkpath(folder));
            // A relative folder would land wherever the program was started from: refused, the
            // dialog stays open with the reason.
            dialog->folderField()->clear();
            QTest::keyClicks(dialog->folderField(), QStringLiteral("backups"));
            QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->problemText(),
                     QStringLiteral("The backup folder must be an absolute path"));
            dialog->folderField()->clear();
            QTest::keyClicks(dialog->folderField(), folder);
            if (QTest::currentDataTag() == QLatin1String("backups, Administrator"))
                WindowFit::saveShot(window.get(), dialog, QStringLiteral("recorder-backup-dialog"));
            QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
            // Taken at once (no copy yet, the time of day passed or yesterday's), off the GUI
            // thread; the status bar tells its age.
            auto* state = window->findChild<QLabel*>(QStringLiteral("label_backup_state"));
            QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Backup: just now"), 15000);
            QVERIFY(state->isVisible());
            QCOMPARE(QDir(folder).entryList({QStringLiteral("*.dat")}, QDir::Files).size(), 1);
            if (QTest::currentDataTag() == QLatin1String("backups, Administrator"))
                WindowFit::saveShot(window.get(), QStringLiteral("recorder-backup-status"));
        }
    } else if (change == QLatin1String("users")) {
        // Opening it asks no reason: each change in it asks its own.
        action(window.get(), "actionUsers")->trigger();
        made = window->usersDialog() != nullptr;
    } else if (change == QLatin1String("acknowledge")) {
        window->alarmScreen()->acknowledgeSelected();
        AcknowledgeDialog* dialog = window->alarmScreen()->acknowledgeDialog();
        made = dialog != nullptr;
        if (dialog) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_name"));
            if (accessControl) {
                QCOMPARE(name->text(), user);
                QVERIFY(name->isReadOnly());
            } else {
                QVERIFY(!name->isReadOnly());
                name->setText(QStringLiteral("typed name"));
            }
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit_comment"))
                ->setPlainText(QStringLiteral("Door closed"));
            dialog->findChild<QComboBox*>(QStringLiteral("comboBox_product"))
                ->setCurrentText(QStringLiteral("none"));
            dialog->confirm();
            // Made once signed: the signature's password is checked on the session's thread.
            QTRY_VERIFY_WITH_TIMEOUT(
                window->alarmScreen()->activeModel()->event(0) &&
                    window->alarmScreen()->activeModel()->event(0)->acknowledgedAt,
                10000);
        }
    } else {
        QFAIL("unknown change");
    }
    QCOMPARE(made, allowed);
    QCOMPARE(signInAsks, accessControl ? 1 : 0);
    // Only an acknowledgement is signed here, and only under access control.
    QCOMPARE(signatureAsks,
             change == QLatin1String("acknowledge") && accessControl && allowed ? 1 : 0);
    const bool asksReason =
        change != QLatin1String("acknowledge") && change != QLatin1String("users");
    QCOMPARE(reasonAsks.size(), accessControl && allowed && asksReason ? 1 : 0);
    const QString reason =
        reasonAsks.isEmpty() ? QString() : QStringLiteral("Because: ") + reasonAsks.first();

    const QString expected = allowed ? recorded : ProjectAudit::refusedAction();
    if (!expected.isEmpty()) {
        QVector<AuditEntry> entries;
        auto find = [&] {
            entries = auditTrail(database).mid(entriesBefore);
            for (const AuditEntry& e : entries) {
                if (e.action == expected)
                    return true;
            }
            return false;
        };
        // The writer commits on its own schedule; the test does not wait for it.
        QVERIFY(window->recordingCycle()->sampleWriter()->flushAndWait(
            QDateTime::currentMSecsSinceEpoch()));
        QTRY_VERIFY_WITH_TIMEOUT(find(), 10000);
        for (const AuditEntry& e : entries) {
            if (e.action != expected)
                continue;
            QCOMPARE(e.user, user.isEmpty() ? AccessGate::notSignedIn() : user);
            QCOMPARE(e.reason, allowed ? reason : QString());
            if (!allowed)
                QVERIFY2(e.newValue.contains(QStringLiteral("needs ")), qPrintable(e.newValue));
            if (change == QLatin1String("acknowledge") && allowed)
                QCOMPARE(e.newValue, QStringLiteral("acknowledged by ") +
                                         (accessControl ? user : QStringLiteral("typed name")) +
                                         QStringLiteral(": Door closed; product none"));
        }
        // A signed acknowledgement: its signature follows, by the same user; without access
        // control it stays unsigned.
        if (change == QLatin1String("acknowledge") && allowed) {
            auto signedBy = [&] {
                for (const AuditEntry& e : auditTrail(database).mid(entriesBefore)) {
                    if (e.action == QLatin1String("signed") &&
                        e.object.startsWith(QLatin1String("alarm event ")) &&
                        e.newValue.startsWith(QLatin1String("acknowledged; record SHA-256 ")))
                        return e.user;
                }
                return QString();
            };
            if (accessControl) {
                QTRY_COMPARE_WITH_TIMEOUT(signedBy(), user, 10000);
                QTRY_VERIFY(window->alarmScreen()
                                ->activeModel()
                                ->data(window->alarmScreen()->activeModel()->index(
                                    0, AlarmEventListModel::SignatureColumn))
                                .toString()
                                .endsWith(QStringLiteral(", acknowledged")));
                if (QTest::currentDataTag() == QLatin1String("acknowledge, Operator")) {
                    window->alarmScreen()->resize(1900, 560);
                    WindowFit::saveShot(window->alarmScreen(),
                                        QStringLiteral("recorder-alarms-signed"));
                }
            } else {
                QCOMPARE(signedBy(), QString());
                QCOMPARE(window->alarmScreen()
                             ->activeModel()
                             ->data(window->alarmScreen()->activeModel()->index(
                                 0, AlarmEventListModel::SignatureColumn))
                             .toString(),
                         QStringLiteral("unsigned"));
            }
        }
    }
    if (allowed) {
        // What the change's dialog saves is recorded with this user and reason.
        QCOMPARE(window->accessGate()->currentActor().user, user);
        QCOMPARE(window->accessGate()->currentActor().reason, asksReason ? reason : QString());
        if (window->recordingCycle())
            QVERIFY(window->recordingCycle()->sampleWriter()->flushAndWait(
                QDateTime::currentMSecsSinceEpoch()));
        for (const AuditEntry& e : auditTrail(database).mid(entriesBefore))
            QVERIFY2(e.action != ProjectAudit::refusedAction(), qPrintable(e.object));
    }
    if (window->isRecording())
        window->recordingCycle()->stopRecording();
}

QTEST_MAIN(TestQuillmarMain)
#include "tst_quillmarmain.moc"
