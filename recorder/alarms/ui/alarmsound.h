#pragma once

#include <QAudio>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class AlarmMonitor;
class ConfiguredDevice;
class QAudioDeviceInfo;
class QAudioOutput;

// The alarm sound: "critical.wav" on the default audio output while any node of the open project
// has a channel outside its range. Asked once a second by the recorder's clock, it restarts the
// sound after each playthrough for as long as an alarm lasts, and stops it at the first tick
// without one, even in the middle of a playthrough.
class AlarmSound : public QObject
{
    Q_OBJECT

public:
    static constexpr int BufferSize = 10000;

    // Shows a problem of the set-up to the user: (title, text).
    using Complaint = std::function<void(const QString& title, const QString& text)>;

    // Prepares the default output and opens the sound file. A format the output cannot play or
    // a missing file goes to `complain`; the recorder carries on, the alarm may stay silent.
    explicit AlarmSound(const Complaint& complain, QObject* parent = nullptr);
    // The same on a given output device; a null device never plays.
    AlarmSound(const QAudioDeviceInfo& device, const Complaint& complain,
               QObject* parent = nullptr);
    ~AlarmSound() override;

    // The clock's tick: plays while any node of `gateways` has an alarm, stops otherwise.
    void update(const QList<ConfiguredDevice*>& gateways);
    // The same for the open project's alarms: plays while one is active and not acknowledged
    // (with no delays and no acknowledgement, exactly while a node has its flag set).
    void update(const AlarmMonitor& monitor);
    void update(bool alarm);
    void stop();

    QAudioOutput* output() const { return audio; }

public slots:
    void handleStateChanged(QAudio::State state);

private:
    QFile m_audioFile;
    QAudioOutput* audio = nullptr;
    bool devicePresent = false;
};
