#include "alarmsound.h"

#include "alarmmonitor.h"

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QDebug>
#include <QSet>

AlarmSound::AlarmSound(const Complaint& complain, QObject* parent)
    : AlarmSound(QAudioDeviceInfo::defaultOutputDevice(), complain, parent)
{
}

AlarmSound::AlarmSound(const QAudioDeviceInfo& device, const Complaint& complain, QObject* parent)
    : QObject(parent)
{
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);

    // Without any output device every start would fail at once and log a warning a second.
    devicePresent = !device.isNull();
    if (!device.isFormatSupported(format)) {
        qWarning() << "Raw audio format not supported by backend, cannot play audio.";
        complain(QStringLiteral("Audio"),
                 QStringLiteral("Raw audio format not supported by backend, cannot play audio!"));
    }
    audio = new QAudioOutput(device, format, this);
    audio->setBufferSize(BufferSize);
    connect(audio, &QAudioOutput::stateChanged, this, &AlarmSound::handleStateChanged);

    m_audioFile.setFileName(QStringLiteral("://critical.wav"));
    if (!m_audioFile.open(QIODevice::ReadOnly)) {
        qWarning() << "Could not find file \"critical.wav\"!";
        complain(QStringLiteral("critical.wav"),
                 QStringLiteral("Could not find file \"critical.wav\"!"));
    }
    qDebug().noquote() << "m_audioFile size : " << m_audioFile.size();
}

AlarmSound::~AlarmSound()
{
    m_audioFile.close();
    audio->reset();
}

void AlarmSound::handleStateChanged(QAudio::State state)
{
    qDebug().noquote() << "QuillmarMain::handleStateChanged : QAudio new State : " << state;
}

namespace {

// The alarms that make the sound: active and not acknowledged.
QSet<qint64> soundingAlarms(const AlarmMonitor& monitor)
{
    QSet<qint64> ids;
    for (const AlarmEventRecord& r : monitor.activeAlarms()) {
        if (!r.isAcknowledged())
            ids.insert(r.id);
    }
    return ids;
}

} // namespace

void AlarmSound::silence(int minutes, const AlarmMonitor& monitor)
{
    const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
    m_silence.start(minutes, now, soundingAlarms(monitor));
    stop();
    emit silenceChanged(true);
}

void AlarmSound::update(const AlarmMonitor& monitor)
{
    if (m_silence.isOn()) {
        const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
        if (m_silence.holds(now, soundingAlarms(monitor))) {
            stop();
            return;
        }
        emit silenceChanged(false);
    }
    if (!monitor.soundWanted()) {
        stop();
        return;
    }
    // Not active: never started, stopped, or idle after a playthrough; each time from the start.
    if (devicePresent && audio->state() != QAudio::ActiveState && m_audioFile.isOpen()) {
        m_audioFile.seek(0);
        audio->start(&m_audioFile);
    }
}

void AlarmSound::stop()
{
    if (audio->state() != QAudio::StoppedState)
        audio->stop();
}
