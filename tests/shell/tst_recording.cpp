#include "configureddevice.h"
#include "gatewaysimulator.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "notificationsettings.h"
#include "projectcenter.h"
#include "projectlist.h"
#include "projectmain.h"
#include "projectmanager.h"
#include "projectnotifications.h"
#include "pulsenullsink.h"
#include "recordingcycle.h"
#include "secretstore.h"
#include "shelltestsupport.h"
#include "treemodel.h"
#include "webhookreceiver.h"

#include <QAudioOutput>
#include <QCommandLinkButton>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidgetItem>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <memory>

namespace {

struct Row
{
    QString serial;
    QVariant ch1;
    QVariant ch2;
    qint64 time;
};

QList<Row> readRows(const QString& database)
{
    QList<Row> rows;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if (!db.open() ||
            !query.exec(QStringLiteral("select serialno, channel1, channel2, pointDate from "
                                       "quorbinal order by serialno, pointDate")))
            QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + db.lastError().text() +
                                    query.lastError().text()),
                         __FILE__, __LINE__);
        while (query.next())
            rows << Row{query.value(0).toString(), query.value(1), query.value(2),
                        query.value(3).toLongLong()};
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

bool iconShows(QListWidgetItem* item, const QString& file)
{
    return item && item->icon().pixmap(16).toImage() == QIcon(file).pixmap(16).toImage();
}

} // namespace

// The recorder end to end against two simulated gateways: a project created through the start
// screen and the editor, live values, the alarm sound on a PulseAudio null sink, a recording
// with a refresh in the middle and a gateway that goes silent and comes back.
class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void endToEnd();

private:
    QTemporaryDir configHome;
    QTemporaryDir work;
    PulseNullSink pulseSink;
    bool pulse = false;
    MessageBoxes boxes;
};

void TestRecording::initTestCase()
{
    QVERIFY(configHome.isValid());
    QVERIFY(work.isValid());
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    // Secrets go to the test's own file, never to the desktop's keyring.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    // Before the first audio call of the process: the sound back end connects once.
    pulse = pulseSink.start(QStringLiteral(QUILLMAR_SOURCE_DIR "/tools/pulse-null-sink.sh"));
    if (pulse)
        qputenv("PULSE_SERVER", pulseSink.server().toLocal8Bit());
    else
        qWarning("no PulseAudio daemon could be started: the alarm sound is not checked");
}

void TestRecording::cleanupTestCase()
{
    pulseSink.stop();
}

// Catches: samples lost, duplicated or taken from refresh polls; missing gap records or record
// keys; a silent gateway never shown disconnected or never recovered; an alarm that stays quiet
// or never stops; a heartbeat that does not beat when recording starts.
void TestRecording::endToEnd()
{
    GatewaySimulator sim;
    GatewaySimulator::Gateway first = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4});
    first.nodes[0].ch1 = QStringLiteral("21.5");
    first.nodes[0].ch2 = QStringLiteral("45");
    first.nodes[1].ch1 = QStringLiteral("22.25");
    first.nodes[1].ch2 = QStringLiteral("46");
    GatewaySimulator::Gateway second = GatewaySimulator::gateway(QStringLiteral("TQ700"), {0});
    second.nodes[0].ch1 = QStringLiteral("5.25");
    second.nodes[0].ch2 = QStringLiteral("80");
    QVERIFY2(sim.start({first, second}), qPrintable(sim.errorString()));

    const QString projectPath = work.filePath(QStringLiteral("e2e.tpc"));
    QuillmarMain window(boxes.function());
    window.startScreen()->setFileDialogs([projectPath](QWidget*, const QString&, const QString&,
                                                       const QString&) { return projectPath; },
                                         {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Start screen: create the project.
    QTest::mouseClick(
        window.startScreen()->findChild<QCommandLinkButton*>(QStringLiteral("btn_create")),
        Qt::LeftButton);
    ProjectManager* editor = window.editor();
    QVERIFY(editor);

    // Editor: two gateways, three nodes, 1-second interval.
    auto* addTop = editor->findChild<QPushButton*>(QStringLiteral("pushButton_add_top"));
    auto* addChild = editor->findChild<QPushButton*>(QStringLiteral("pushButton_add_child"));
    auto* tree = editor->findChild<QTreeView*>(QStringLiteral("treeView"));
    TreeModel* model = editor->model();
    QTest::mouseClick(addTop, Qt::LeftButton);
    QTest::mouseClick(addTop, Qt::LeftButton);
    model->setData(model->index(0, 0), QStringLiteral("127.0.0.1:%1").arg(sim.port(0)));
    model->setData(model->index(0, 1), QStringLiteral("TQ100"));
    model->setData(model->index(1, 0), QStringLiteral("127.0.0.1:%1").arg(sim.port(1)));
    for (int gateway : {0, 0, 1}) {
        tree->selectionModel()->setCurrentIndex(model->index(gateway, 0),
                                                QItemSelectionModel::ClearAndSelect);
        QTest::mouseClick(addChild, Qt::LeftButton);
    }
    editor->intervalMenu()->actions().at(0)->trigger();
    QCOMPARE(editor->interval(), 1000);
    QTest::mouseClick(editor->findChild<QToolButton*>(QStringLiteral("btn_confirm")),
                      Qt::LeftButton);

    ProjectCenter* center = window.projectCenter();
    QVERIFY(center);
    QVERIFY(window.isProjectOpen());
    const QList<ConfiguredDevice*> gateways = window.gateways();
    QCOMPARE(gateways.size(), 2);
    for (ConfiguredDevice* gateway : gateways)
        gateway->setRetryInterval(2000);
    NodeDevice* a = gateways[0]->nodes()[0];
    NodeDevice* b = gateways[0]->nodes()[1];
    NodeDevice* c = gateways[1]->nodes()[0];
    QTRY_COMPARE_WITH_TIMEOUT(a->shownChannel(1), QStringLiteral("21.50"), 5000);
    QCOMPARE(b->shownChannel(2), QStringLiteral("46.00"));
    // The second gateway is polled on its own link: its answer may come a moment later.
    QTRY_COMPARE_WITH_TIMEOUT(c->shownChannel(1), QStringLiteral("5.25"), 5000);
    const ProjectFile file(projectPath);
    QCOMPARE(file.intValue(QStringLiteral("DataInterval")), 1000);
    ProjectData stored;
    QVERIFY(file.load(&stored));
    QCOMPARE(stored.gateways.size(), 2);
    QCOMPARE(stored.gateways[0].nodes.size(), 2);

    // Alarm: out of range at the next clock tick the sound plays; back in range it stops.
    QAudioOutput* audio = window.audioOutput();
    QVERIFY(audio);
    a->setAlarmRanges(0, 30, 0, 100);
    if (pulse) {
        QVERIFY(sim.setChannel(0, 0, 1, 35.0));
        QTRY_VERIFY_WITH_TIMEOUT(a->isAlarmed(1), 4000);
        QTRY_COMPARE_WITH_TIMEOUT(audio->state(), QAudio::ActiveState, 3000);
        QVERIFY(sim.setChannel(0, 0, 1, 21.5));
        QTRY_VERIFY_WITH_TIMEOUT(!a->isAlarmed(1), 4000);
        QTRY_COMPARE_WITH_TIMEOUT(audio->state(), QAudio::StoppedState, 3000);
    }

    // A heartbeat every minute, its URL in the user's secret store.
    WebhookReceiver heartbeat;
    QVERIFY(heartbeat.listen());
    {
        SecretStore store(QFileInfo(projectPath).canonicalFilePath());
        QSignalSpy written(&store, &SecretStore::written);
        store.write(NotificationSettings::heartbeatUrlSecret(),
                    heartbeat.url(QStringLiteral("/ping/e2e")));
        QVERIFY(written.wait(10000));
    }
    NotificationSettings notify = NotificationSettings::load(projectPath);
    notify.heartbeatMinutes = 1;
    notify.save(projectPath);
    QSignalSpy secretRead(window.projectNotifications()->secretStore(), &SecretStore::readFinished);
    window.projectNotifications()->reload();
    QVERIFY(secretRead.wait(10000));

    // Recording.
    QTest::mouseClick(center->findChild<QToolButton*>(QStringLiteral("btn_record")),
                      Qt::LeftButton);
    QTRY_VERIFY(window.isRecording());
    // The first beat within a clock tick or two of the start.
    QTRY_COMPARE_WITH_TIMEOUT(heartbeat.requests().size(), 1, 5000);
    QCOMPARE(heartbeat.requests().first().path, QByteArray("/ping/e2e"));
    const QString database = ProjectFile::databasePath(projectPath);
    QTRY_VERIFY_WITH_TIMEOUT(window.recordingCycle()->pendingCount() >= 3, 5000);

    // A refresh shows a value that must never be stored. It starts right after a regular poll's
    // answer, so that no regular poll falls between the changed value and the refresh's answer.
    QSignalSpy polled(gateways[1], &ConfiguredDevice::polled);
    QVERIFY(polled.wait(5000));
    QVERIFY(sim.setChannel(1, 0, 1, 77.25));
    window.slotRefreshDevice();
    QTRY_COMPARE_WITH_TIMEOUT(polled.size(), 2, 500);
    QCOMPARE(c->shownChannel(1), QStringLiteral("77.25"));
    QVERIFY(sim.setChannel(1, 0, 1, 5.25));
    QCOMPARE(polled.size(), 2);

    // With two gateways the samples go in batches of 16.
    QTRY_VERIFY_WITH_TIMEOUT(readRows(database).size() >= 16, 15000);

    // A silent gateway is shown disconnected after its missed polls and comes back after the retry.
    QVERIFY(sim.setFault(1, QStringLiteral("silent")));
    QElapsedTimer silence;
    silence.start();
    QTRY_VERIFY_WITH_TIMEOUT(!gateways[1]->connected, 20000);
    // Five missed polls at one a second are allowed before the gateway counts as gone.
    QCOMPARE(gateways[1]->missedPollLimit(), 5);
    QVERIFY2(silence.elapsed() >= 4000, qPrintable(QString::number(silence.elapsed())));
    QVERIFY(gateways[1]->retryPending);
    QVERIFY(iconShows(center->projectList()->itemOf(c),
                      QStringLiteral(":/img/DeviceDisconnectedSymbol.png")));
    QVERIFY(gateways[0]->connected);
    QVERIFY(sim.setFault(1, QStringLiteral("none")));
    QTRY_VERIFY_WITH_TIMEOUT(gateways[1]->connected, 10000);
    QVERIFY(iconShows(center->projectList()->itemOf(c),
                      QStringLiteral(":/img/DeviceConnectingSymbol.png")));
    const int before = readRows(database).size();
    QTRY_VERIFY_WITH_TIMEOUT(readRows(database).size() > before, 15000);

    // Stop: one gap record per node, then everything waiting is written.
    QTest::mouseClick(center->findChild<QToolButton*>(QStringLiteral("btn_record")),
                      Qt::LeftButton);
    QVERIFY(!window.isRecording());
    QTRY_COMPARE(window.recordingCycle()->pendingCount(), 0);
    QVERIFY(!file.value(QStringLiteral("record_start_time")).isEmpty());
    QVERIFY(!file.value(QStringLiteral("record_stop_time")).isEmpty());

    const QList<Row> rows = readRows(database);
    QHash<QString, QList<Row>> byNode;
    for (const Row& row : rows)
        byNode[row.serial] << row;
    QCOMPARE(byNode.size(), 3);
    const QHash<QString, QPair<double, double>> expected = {{a->deviceNumber(), {21.5, 45}},
                                                            {b->deviceNumber(), {22.25, 46}},
                                                            {c->deviceNumber(), {5.25, 80}}};
    for (NodeDevice* node : {a, b, c}) {
        const QList<Row>& list = byNode.value(node->deviceNumber());
        QVERIFY2(list.size() >= 5, qPrintable(node->deviceNumber()));
        const Row& gap = list.last();
        QVERIFY(gap.ch1.isNull() && gap.ch2.isNull());
        const ConfiguredDevice* gateway = node == c ? gateways[1] : gateways[0];
        QCOMPARE(gap.time, gateway->lastPollTime.addMSecs(1000).toSecsSinceEpoch());
        for (int i = 0; i + 1 < list.size(); ++i) {
            QCOMPARE(list[i].ch1.toDouble(), expected.value(node->deviceNumber()).first);
            QCOMPARE(list[i].ch2.toDouble(), expected.value(node->deviceNumber()).second);
            if (i > 0)
                QVERIFY2(list[i].time > list[i - 1].time, "one row per poll");
        }
    }
    // The gateway that went silent has fewer rows than the one that kept answering.
    QVERIFY(byNode.value(c->deviceNumber()).size() < byNode.value(a->deviceNumber()).size());
    QVERIFY(boxes.shown.filter(QStringLiteral("ERROR")).isEmpty());
    window.slotCloseProject();
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
