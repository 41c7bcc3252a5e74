#pragma once

#include "alarmsilence.h"

#include <QAudio>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

#include <functional>

class AlarmMonitor;
class QAudioDeviceInfo;
class QAudioOutput;

// The alarm sound: "critical.wav" on the default audio output while the open project's alarm
// monitor wants it (an active alarm nobody acknowledged). Asked once a second by the recorder's
// clock, it restarts the sound after each playthrough for as long as that lasts, and stops it at
// the first tick without, even in the middle of a playthrough. A silence a user asked for keeps
// it off for a while (AlarmSilence) without touching the alarms.
class AlarmSound : public QObject
{
    Q_OBJECT

public:
    static constexpr int BufferSize = 10000;

    using Clock = std::function<QDateTime()>;
    // Shows a problem of the set-up to the user: (title, text).
    using Complaint = std::function<void(const QString& title, const QString& text)>;

    // Prepares the default output and opens the sound file. A format the output cannot play or
    // a missing file goes to `complain`; the recorder carries on, the alarm may stay silent.
    explicit AlarmSound(const Complaint& complain, QObject* parent = nullptr);
    // The same on a given output device; a null device never plays.
    AlarmSound(const QAudioDeviceInfo& device, const Complaint& complain,
               QObject* parent = nullptr);
    ~AlarmSound() override;

    // The clock's tick: plays while an alarm of `monitor` is active and not acknowledged (with
    // no delays and no acknowledgement, exactly while a node is out of range), stops otherwise.
    void update(const AlarmMonitor& monitor);
    void stop();

    // Silences the sound for AlarmSilence::bounded(minutes) over the alarms of `monitor` that
    // sound now; the sound stops at once and returns at the end or with a new alarm.
    void silence(int minutes, const AlarmMonitor& monitor);
    bool isSilenced() const { return m_silence.isOn(); }
    QDateTime silencedUntil() const { return m_silence.until(); }
    // The time the silence runs on; tests replace it.
    void setClock(const Clock& clock) { m_clock = clock; }

    QAudioOutput* output() const { return audio; }

signals:
    // A silence began or ended.
    void silenceChanged(bool silenced);

public slots:
    void handleStateChanged(QAudio::State state);

private:
    QFile m_audioFile;
    QAudioOutput* audio = nullptr;
    bool devicePresent = false;
    AlarmSilence m_silence;
    Clock m_clock;
};
