#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

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

    // `script`: the path of tools/pulse-null-sink.sh. False when no daemon came up; then
    // errorString() tells why.
    bool start(const QString& script)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
            error = QStringLiteral("pulseaudio is not installed (tools/install-deps.sh)");
            return false;
        }
        folder = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/qlm-pulse-XXXXXX"));
        QProcess pulse;
        pulse.setProcessChannelMode(QProcess::MergedChannels);
        pulse.start(QStringLiteral("bash"),
                    {QStringLiteral("-c"), QStringLiteral("source \"$0\"; pulse_start \"$1\""),
                     script, folder->path()});
        // A loaded machine (a parallel test run under the sanitizers) starts it slowly.
        if (pulse.waitForFinished(40000) && pulse.exitStatus() == QProcess::NormalExit &&
            pulse.exitCode() == 0)
            return true;
        QFile log(folder->path() + QStringLiteral("/pulse.log"));
        error = QStringLiteral("no PulseAudio daemon came up: ") +
                QString::fromLocal8Bit(pulse.readAll()).trimmed() +
                (log.open(QIODevice::ReadOnly)
                     ? QLatin1Char('\n') + QString::fromLocal8Bit(log.readAll().right(2000))
                     : QString());
        return false;
    }
    QString errorString() const { return error; }
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
    QString error;
};
