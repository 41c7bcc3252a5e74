#pragma once

#include "projectfile.h"
#include "quillmarmain.h"
#include "sampletable.h"

#include <QAction>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <functional>
#include <memory>

// A window's modal message boxes, recorded as "TITLE|text" instead of shown and answered with
// the queued buttons; without a queued answer a question is answered by discarding (or "Yes"),
// so that no test can loop on a question it did not expect.
struct MessageBoxes
{
    QStringList shown;
    QList<QMessageBox::StandardButton> answers;
    // Called after a box is recorded and before it is answered.
    std::function<void()> onQuestion;

    QuillmarMain::MessageBoxFunction function()
    {
        return [this](QMessageBox::Icon, const QString& title, const QString& text,
                      QMessageBox::StandardButtons buttons) {
            shown << title + QLatin1Char('|') + text;
            if (onQuestion)
                onQuestion();
            if (!answers.isEmpty())
                return answers.takeFirst();
            for (QMessageBox::StandardButton button : {QMessageBox::Discard, QMessageBox::Yes}) {
                if (buttons & button)
                    return button;
            }
            return QMessageBox::Ok;
        };
    }
};

inline QSettings recorderSettings()
{
    return QSettings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus"));
}

// A project file with one gateway per port, each with nodes at the given start registers.
inline QString writeProject(const QString& path, const QList<quint16>& ports,
                            const QVector<int>& starts = {0}, int interval = 1000)
{
    ProjectFile file(path);
    file.create(interval);
    QList<GatewayConfig> gateways;
    int number = 0;
    for (quint16 port : ports) {
        GatewayConfig gateway;
        gateway.ipAddress = QStringLiteral("127.0.0.1");
        gateway.port = port;
        for (int start : starts) {
            NodeConfig node;
            node.deviceNumber = QStringLiteral("NODE%1").arg(++number);
            node.deviceName = QStringLiteral("Node %1").arg(number);
            node.startAddress = start;
            gateway.nodes << node;
        }
        gateways << gateway;
    }
    file.saveDeviceList(gateways);
    return path;
}

inline QAction* action(QuillmarMain* window, const char* name)
{
    return window->findChild<QAction*>(QLatin1String(name));
}

// The rows of a database as "serial channel1 channel2 pointDate", NULL channels as "-", in
// time order; only those that match `where` when given.
inline QStringList storedRows(const QString& database, const QString& where = QString())
{
    QStringList rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        const QString filter = where.isEmpty() ? QString() : QStringLiteral(" where ") + where;
        if (db.open() && query.exec(QStringLiteral("select serialno, channel1, channel2, pointDate "
                                                   "from quorbinal") +
                                    filter + QStringLiteral(" order by pointDate, serialno")))
            while (query.next()) {
                QStringList row{query.value(0).toString()};
                for (int column : {1, 2})
                    row << (query.value(column).isNull() ? QStringLiteral("-")
                                                         : query.value(column).toString());
                row << query.value(3).toString();
                rows << row.join(QLatin1Char(' '));
            }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// A database as recorders made it before the range index existed: the table alone, holding
// `rows` samples of 16 nodes "OLD0" to "OLD15", one a second from `first` on. Big enough (a
// million rows), its index takes the background build a second or more.
inline bool writeOldDatabase(const QString& database, int rows, qint64 first)
{
    const QString name = QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        QSqlQuery query(db);
        ok = db.open() && query.exec(SampleTable::createStatement()) &&
             query.exec(QStringLiteral("with recursive s(x) as (select 0 union all select x + 1 "
                                       "from s where x < %1) insert into quorbinal (serialno, "
                                       "channel1, channel2, pointDate) select 'OLD' || (x % 16), "
                                       "x % 100, 50, %2 + x / 16 from s")
                            .arg(rows - 1)
                            .arg(first));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Another program holding the database's write lock while it lives.
class LockHolder
{
public:
    explicit LockHolder(const QString& database) : name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        locked = db.open() && QSqlQuery(db).exec(QStringLiteral("begin immediate"));
    }
    ~LockHolder()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool locked = false;

private:
    QString name;
};

// A PulseAudio daemon of the test's own with a null sink, started by the project's
// tools/pulse-null-sink.sh in a runtime folder of its own, so that the recorder's alarm output
// has a device and no message box waits for a click. It ends with stop(), or with this object.
class PulseNullSink
{
public:
    PulseNullSink() = default;
    PulseNullSink(const PulseNullSink&) = delete;
    PulseNullSink& operator=(const PulseNullSink&) = delete;
    ~PulseNullSink() { stop(); }

    // `script`: the path of tools/pulse-null-sink.sh. False when no daemon came up.
    bool start(const QString& script)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            return false;
        folder = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/qlm-pulse-XXXXXX"));
        QProcess pulse;
        pulse.start(QStringLiteral("bash"),
                    {QStringLiteral("-c"), QStringLiteral("source \"$0\"; pulse_start \"$1\""),
                     script, folder->path()});
        return pulse.waitForFinished(15000) && pulse.exitCode() == 0;
    }
    // The daemon's address, for PULSE_SERVER.
    QString server() const
    {
        return QStringLiteral("unix:") + folder->path() + QStringLiteral("/pulse.sock");
    }
    void stop()
    {
        if (!folder)
            return;
        QFile pidFile(folder->path() + QStringLiteral("/pulse/pid"));
        const pid_t pid =
            pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toInt() : 0;
        const std::unique_ptr<QTemporaryDir> removed = std::move(folder);
        // Gone before its folder is removed, or it writes into the folder being removed.
        if (pid > 0 && ::kill(pid, SIGTERM) == 0)
            QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 10000);
    }

private:
    std::unique_ptr<QTemporaryDir> folder;
};
