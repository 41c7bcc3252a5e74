#include "projectmain.h"
#include "shownmessages.h"

#include <QCommandLinkButton>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A file dialog that answers with a fixed path and remembers how it was asked.
struct DialogAnswer
{
    QString path;
    QStringList asked;
    ProjectMain::FileDialog function()
    {
        return [this](QWidget*, const QString& caption, const QString& folder,
                      const QString& filter) {
            asked << caption << folder << filter;
            return path;
        };
    }
};

} // namespace

class TestProjectMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void createNames_data();
    void createNames();
    void createEmptiesExistingFile();
    void createUnwritable();
    void openChecks_data();
    void openChecks();
    void cancelledDialogsDoNothing();
    void recentList_data();
    void recentList();
    void recentEntryWithoutPath();

private:
    std::unique_ptr<QTemporaryDir> tempDir;
    QDir dir;
    DialogAnswer saveAnswer;
    DialogAnswer openAnswer;
    QWidget* host = nullptr;
    ProjectMain* screen = nullptr;
};

void TestProjectMain::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestProjectMain::init()
{
    tempDir = std::make_unique<QTemporaryDir>();
    QVERIFY(tempDir->isValid());
    dir = QDir(tempDir->path());
    saveAnswer = DialogAnswer();
    openAnswer = DialogAnswer();
    host = new QWidget;
    screen = new ProjectMain({}, {}, host);
    screen->setFileDialogs(saveAnswer.function(), openAnswer.function());
    host->resize(850, 400);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host));
}

void TestProjectMain::cleanup()
{
    delete host;
}

void TestProjectMain::createNames_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("message");
    QTest::newRow("16 letters get the suffix")
        << "abcdefghijklmnop" << "abcdefghijklmnop.tpc" << QString();
    QTest::newRow("17 letters too long")
        << "abcdefghijklmnopq" << QString()
        << "ERROR|\"abcdefghijklmnopq.tpc\" is too long.\nPlease retry.\nMax Length is 20 charactors.";
    QTest::newRow("other suffix kept") << "plant.dat" << "plant.dat" << QString();
    QTest::newRow("with suffix") << "plant.tpc" << "plant.tpc" << QString();
    QTest::newRow("blanks and apostrophe") << "Ann's  hall" << "Ann's  hall.tpc" << QString();
}

// Catches: names longer than 20 characters accepted, or a name left without the .tpc suffix.
void TestProjectMain::createNames()
{
    QFETCH(QString, chosen);
    QFETCH(QString, created);
    QFETCH(QString, message);
    saveAnswer.path = dir.filePath(chosen);
    QSignalSpy spy(screen, &ProjectMain::projectCreated);
    QTest::mouseClick(screen->findChild<QCommandLinkButton*>(QStringLiteral("btn_create")),
                      Qt::LeftButton);
    QCOMPARE(saveAnswer.asked,
             (QStringList{QStringLiteral("Create Project"),
                          QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                          QStringLiteral("*.tpc")}));
    if (created.isEmpty()) {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(shownMessages(screen), QStringList{message});
        QVERIFY(!QFile::exists(dir.filePath(chosen + QStringLiteral(".tpc"))));
        return;
    }
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), dir.filePath(created));
    QVERIFY(QFile::exists(dir.filePath(created)));
    QVERIFY(shownMessages(screen).isEmpty());
}

// Catches: an existing file's old contents surviving into the new project.
void TestProjectMain::createEmptiesExistingFile()
{
    const QString path = dir.filePath(QStringLiteral("old.tpc"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nprojectName=old\n");
    file.close();
    saveAnswer.path = path;
    QSignalSpy spy(screen, &ProjectMain::projectCreated);
    screen->slotCreateProject();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(QFileInfo(path).size(), 0);
}

// Catches: a project reported as created although its file could not be written.
void TestProjectMain::createUnwritable()
{
    saveAnswer.path = dir.filePath(QStringLiteral("missing/folder/x.tpc"));
    QSignalSpy spy(screen, &ProjectMain::projectCreated);
    screen->slotCreateProject();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(shownMessages(screen), QStringList{QStringLiteral("ERROR|Unable to open the project file.")});
}

void TestProjectMain::openChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");
    QTest::newRow("fine") << "plant.tpc" << true << QString();
    QTest::newRow("20 characters") << "abcdefghijklmnop.tpc" << true << QString();
    QTest::newRow("21 characters")
        << "abcdefghijklmnopq.tpc" << true
        << "ERROR|\"abcdefghijklmnopq.tpc\" is too long.\nPlease retry.\nMax Length is 20 charactors.";
    QTest::newRow("unreadable") << "gone.tpc" << false << "ERROR|Unable to open the project file.";
}

// Catches: a project opened that cannot be read or whose name is too long.
void TestProjectMain::openChecks()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QFETCH(QString, message);
    openAnswer.path = dir.filePath(name);
    if (exists) {
        QFile file(openAnswer.path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QSignalSpy spy(screen, &ProjectMain::projectLoaded);
    QTest::mouseClick(screen->findChild<QCommandLinkButton*>(QStringLiteral("btn_open")),
                      Qt::LeftButton);
    QCOMPARE(openAnswer.asked.value(0), QStringLiteral("Open Project"));
    QCOMPARE(spy.count(), message.isEmpty() ? 1 : 0);
    if (message.isEmpty())
        QCOMPARE(spy.first().first().toString(), openAnswer.path);
    else
        QCOMPARE(shownMessages(screen), QStringList{message});
}

// Catches: a cancelled dialog creating a file or emitting a signal.
void TestProjectMain::cancelledDialogsDoNothing()
{
    QSignalSpy created(screen, &ProjectMain::projectCreated);
    QSignalSpy loaded(screen, &ProjectMain::projectLoaded);
    screen->slotCreateProject();
    screen->slotOpenProject();
    QCOMPARE(created.count() + loaded.count(), 0);
    QVERIFY(shownMessages(screen).isEmpty());
    QCOMPARE(dir.entryList(QDir::Files), QStringList());
}

void TestProjectMain::recentList_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("shownFolder");
    const QString f70 = QLatin1Char('/') + QString(69, QLatin1Char('a'));
    const QString f71 = QLatin1Char('/') + QString(70, QLatin1Char('b'));
    QTest::newRow("short") << "C:/Data" << "C:/Data";
    QTest::newRow("70 characters") << f70 << f70;
    QTest::newRow("71 characters") << f71 << f71.left(70) + QStringLiteral("...");
}

// Catches: recent entries in the wrong order, long folders not cut, activation emitting wrong paths.
void TestProjectMain::recentList()
{
    QFETCH(QString, folder);
    QFETCH(QString, shownFolder);
    const QStringList names = {QStringLiteral("Plant1"), QStringLiteral("Other")};
    QVariantMap map;
    map.insert(QStringLiteral("Plant1"), QString(folder + QStringLiteral("/Plant1.tpc")));
    map.insert(QStringLiteral("Other"), QStringLiteral("/x/Other.tpc"));
    ProjectMain recent(names, map, host);
    recent.show();
    auto* list = recent.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(),
             QStringLiteral("Plant1\t[") + shownFolder + QStringLiteral("/Plant1.tpc]"));
    QCOMPARE(list->item(0)->toolTip(), folder + QStringLiteral("/Plant1.tpc"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("Other\t[/x/Other.tpc]"));

    QSignalSpy spy(&recent, &ProjectMain::projectLoaded);
    list->setFocus();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), QStringLiteral("/x/Other.tpc"));
}

// Catches: a name missing from the map crashing instead of giving an empty path.
void TestProjectMain::recentEntryWithoutPath()
{
    ProjectMain recent({QStringLiteral("Lost")}, {}, host);
    auto* list = recent.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QSignalSpy spy(&recent, &ProjectMain::projectLoaded);
    recent.slotRecentProject(list->item(0));
    QCOMPARE(spy.count(), 1);
    QVERIFY(spy.first().first().toString().isEmpty());
}

QTEST_MAIN(TestProjectMain)
#include "tst_projectmain.moc"
