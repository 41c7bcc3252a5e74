#pragma once

#include "alarmindicator.h"
#include "alarmscreen.h"
#include "alarmsound.h"
#include "outboxindicator.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class AlarmIndicator;
class AlarmScreen;
class QLabel;
class ConfiguredDevice;
class ProjectNotifications;
class DatabaseWriter;
class ProjectAlarms;
class ProjectServices;
class QAudioOutput;
class QBoxLayout;
class QWidget;

// What the recorder's window shows of the alarms: the open project's alarms and their log (owned
// by ProjectServices), the status-bar indicator, the Alarms screen and the sound, and the
// project's notifications with their dialog and the status bar's word on a failing outbox. The
// alarms run whenever a project polls, recording or not; the sound follows their monitor, and
// without them it is silent.
class AlarmDesk : public QObject
{
    Q_OBJECT

public:
    using Critical = std::function<void(const QString& title, const QString& text)>;

    // The indicator goes into `statusLayout` at `position`; the Alarms screen is a window of
    // `window`'s. `services` opens and closes the alarms this desk shows.
    AlarmDesk(QWidget* window, QBoxLayout* statusLayout, int position, const Critical& critical,
              ProjectServices* services);
    ~AlarmDesk() override;

    // The alarm log goes through the project's one database `writer`, which must stay open
    // until close().
    void open(const QString& projectPath, const QString& projectName,
              const QList<ConfiguredDevice*>& gateways, DatabaseWriter* writer);
    // Active alarms end as stopped by the recorder; the screen showing them goes first. The
    // sound stops.
    void close();
    bool isOpen() const { return projectAlarms() != nullptr; }
    void rulesChanged();
    // Once a clock second: delays and no-data times run on, the sound follows.
    void tick();
    void showScreen();
    // Asked before each acknowledgement on the Alarms screen.
    void setAcknowledgeGate(const AlarmScreen::AcknowledgeGate& gate) { m_acknowledgeGate = gate; }
    // Asked between each acknowledgement's form and its write (the signature).
    void setAcknowledgeSigner(const AlarmScreen::AcknowledgeSigner& signer)
    {
        m_acknowledgeSigner = signer;
    }
    // The Alarms screen's shelve and unshelve commands.
    void setShelving(const AlarmScreen::ShelveRequest& shelve,
                     const AlarmScreen::UnshelveRequest& unshelve);
    // Who silences the sound, for the audit trail: the user signed in, or the desktop account
    // (the default).
    void setSilenceUser(const std::function<QString()>& user) { m_silenceUser = user; }
    // Silences the sound of the open project's alarms for AlarmSilence::bounded(minutes), with
    // its audit entry; nothing while no alarm sounds. No sign-in is asked.
    void silence(int minutes);
    AlarmSound* alarmSound() const { return sound; }
    // The project's notification settings; saved ones reach the running notifications at once.
    void showNotificationDialog();
    // The project's report schedule; saved, it is recorded and reaches the running schedule
    // once recorded.
    void showReportScheduleDialog();

    ProjectAlarms* projectAlarms() const;
    AlarmScreen* screen() const;
    AlarmIndicator* indicator() const { return m_indicator; }
    OutboxIndicator* outboxIndicator() const { return m_outboxIndicator; }
    // The status bar's note of the calibrations due soon or overdue (hidden while none is).
    QLabel* calibrationNote() const { return m_calibrationNote; }
    // The status bar's note of a scheduled report that failed (until it is made) or could not
    // be mailed; hidden while all is well.
    QLabel* reportNote() const { return m_reportNote; }
    ProjectNotifications* notifications() const;
    QAudioOutput* audioOutput() const { return sound->output(); }

signals:
    // The notification keys of the project file that could not be read; empty on close.
    void keyProblemsChanged(const QStringList& problems);

private:
    QWidget* window;
    Critical m_critical;
    AlarmSound* sound;
    // Its status bar may be gone before the desk.
    QPointer<AlarmIndicator> m_indicator;
    // The window's, which may go before this desk (a child of the window).
    QPointer<ProjectServices> m_services;
    QPointer<OutboxIndicator> m_outboxIndicator;
    QPointer<QLabel> m_calibrationNote;
    QPointer<QLabel> m_reportNote;
    QStringList m_calibrationNotes;
    QString m_projectPath;
    QString m_projectName;
    QPointer<AlarmScreen> m_screen;
    AlarmScreen::AcknowledgeGate m_acknowledgeGate;
    AlarmScreen::AcknowledgeSigner m_acknowledgeSigner;
    AlarmScreen::ShelveRequest m_shelve;
    AlarmScreen::UnshelveRequest m_unshelve;
    std::function<QString()> m_silenceUser;
};
