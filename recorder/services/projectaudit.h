#pragma once

#include "editedsettings.h"
#include "settingssnapshot.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

#include <QStringList>

#include <functional>
#include <limits>
#include <optional>

class DatabaseWriter;
struct AlarmEventRecord;
struct AlarmSuppression;
struct AuditEntry;
struct CalibrationRecord;
struct ElectronicSignature;
struct SignatureGrant;
struct AlarmTestRecord;
struct SignedRecord;

// Every change the recorder makes to the open project, recorded in the project's audit trail
// through its one database writer: settings (saved by the recorder, or found edited outside it
// when the project opens), passwords changed, recording started and stopped and by what, a
// recording a kill or power loss ended, alarms acknowledged, and jumps of the computer's clock.
//
// An entry is handed to the writer before the change it records takes effect: it is then in the
// writer's queue, in order with everything else, and never dropped (a write the file cannot
// take waits in the spill journal and gets its place in the chain when it is committed).
// Waiting for the commit itself would hold the window on the file's lock. Should the program
// die before the writer has the entry in the file, the settings the change left in the project
// file differ from the last accepted ones in the database, and the next start records them as
// changed outside the recorder.
//
// What the last run left is read from the database once everything the writer had waiting at
// the start (its journal, during an index build too) is committed: at once in the usual case,
// otherwise later, when startChecked() tells. The entries of this run written meanwhile are
// told apart by their sequence numbers.
class ProjectAudit : public QObject
{
    Q_OBJECT

public:
    // Who makes a change, and why. The user's name is the desktop account's while there is no
    // sign-in; the reason is asked for each change once there is.
    struct Actor
    {
        QString user;
        QString reason;
    };
    // Asked once per change a user makes, with the entry's action ("setting changed",
    // "recording stopped", ...): the one place the sign-in fills in.
    using ActorSource = std::function<Actor(const QString& action)>;
    // Milliseconds: since 1970 UTC, and of a clock that only ever runs on (tests replace both).
    using Clock = std::function<qint64()>;

    enum class Cause
    {
        User,    // a user's command
        AtStart, // the recorder, set to record when it starts
        Signal,  // the program was told to end (a signal)
        Logout   // the desktop session ended
    };

    // The name for the recorder's own actions.
    static QString automaticUser() { return QStringLiteral("recorder"); }
    // The desktop account the recorder runs under.
    static QString desktopUser();
    // The clock jumps more than this from the monotonic clock's time before it is recorded.
    static constexpr qint64 ClockJumpMs = 2000;

    // `writer` is the project's, which outlives this.
    ProjectAudit(const QString& projectPath, DatabaseWriter* writer, QObject* parent = nullptr);
    ~ProjectAudit() override;

    void setActorSource(const ActorSource& source);
    void setClocks(const Clock& wall, const Clock& monotonic);
    // Before open(): what EditedSettings::prepare() found. Under access control, settings
    // edited outside the recorder are held for a Supervisor instead of accepted.
    void setOutsideEdits(const EditedSettings::Outcome& outcome);

    enum class Opening
    {
        Opened,      // a project file opened as found: differences were made outside
        AfterEditing // the recorder's editor changed it just now, at a user's command
    };
    // Reads what the last run left in the database after the writer opened it: the settings it
    // last accepted, compared with the file as opened now (differences recorded, the file's
    // settings accepted), and a recording that never stopped. False, with the reason, when the
    // database cannot be read; nothing of that is recorded then, and what this run changes is
    // recorded against the file as opened.
    bool open(Opening opening, QString* error);
    // The check of open() is done.
    bool isChecked() const { return m_checked; }

    // The recorder saved the project file at a user's command: each difference from the
    // settings accepted before is recorded, and the file's settings are accepted.
    void settingsSaved();
    // A password or other secret named `secretName` in the secret store was set or cleared.
    void secretChanged(const QString& secretName);
    void recordingStarted(Cause cause);
    void recordingStopped(Cause cause);
    void alarmAcknowledged(const AlarmEventRecord& record);
    // A shelve or out-of-service time began, by `actor`: its node, channel, end and reason.
    void suppressionStarted(const AlarmSuppression& suppression, const Actor& actor);
    // It ended early by `actor`, or ran out (the recorder's own entry).
    void suppressionEnded(const AlarmSuppression& suppression, const Actor& actor);
    void suppressionExpired(const AlarmSuppression& suppression);
    // A calibration entered in the register by `actor`: object "calibration node SERIAL
    // channelN", the new value a readable summary of the entry. The samples are not touched.
    void calibrationEntered(const CalibrationRecord& entry, const Actor& actor);
    static QString calibrationSummary(const CalibrationRecord& entry);
    // An alarm test run by `actor`: action "alarm test", object "alarm test <id>", new value
    // the nodes and each target's answer.
    void alarmTestPerformed(const QVector<AlarmTestRecord>& rows, const Actor& actor);
    // The alarm sound was silenced for `minutes` (AlarmSilence bounds them) by `user` (the one
    // signed in, or the desktop account), without a signature: nothing was acknowledged.
    void soundSilenced(int minutes, const QString& user);
    // The signature `grant` gave to `record` with `meaning`, handed to the writer with its
    // audit entry ("signed"); what was handed over is returned (its id and entry come with the
    // commit). Hand it over right after the write of the record itself: they go in order.
    ElectronicSignature recordSignature(const SignedRecord& record, const QString& meaning,
                                        const SignatureGrant& grant);
    // A scheduled report made, sent, not mailed or failed ("report made", ...): the recorder's
    // own entry, its object the report and period, its new value what became of it.
    void reportRecorded(const QString& action, const QString& object, const QString& value);
    // A setting of this computer's recorder rather than of the project (whether it starts
    // recording when it starts) was changed by a user while the project is open.
    void deskSettingChanged(const QString& object, const QString& oldValue,
                            const QString& newValue);
    // The daily backup failed: why, and the folder it was to go to (the entry's reason). The
    // recorder's own entry, object "daily backup".
    void backupFailed(const QString& folder, const QString& reason);
    // An action under access control was refused, or its sign-in or reason cancelled: `user`
    // (the one signed in, or none) tried `action` on `what`.
    void actionRefused(const QString& user, const QString& action, const QString& what);
    // Once a second: a jump of the wall clock against the monotonic clock is recorded.
    void checkClock();

    // Calls `apply` once every entry handed to the writer so far is durable: committed, or
    // kept in the writer's journal when the file cannot take it now (it gets its place in the
    // chain when committed). A change takes effect only then. `recorded` is false when the
    // entries could be kept nowhere (the journal refused too: a full disk); the change is not
    // to be made then. Nothing is called once this audit is gone (the project closed).
    void whenRecorded(const std::function<void(bool recorded)>& apply);

    const SettingsSnapshot& acceptedSettings() const { return m_accepted; }

    // Settings edited outside the recorder, waiting for a Supervisor.
    struct HeldEdit
    {
        QString asidePath; // the edited file set aside; empty: it runs as found
        QString problem;   // why it runs as found
        SettingsSnapshot edited;
        QStringList lines; // SettingsDifference::lines() from the accepted settings
    };
    const std::optional<HeldEdit>& heldEdit() const { return m_held; }
    // The held settings become the accepted ones, each difference and the acceptance recorded
    // as `actor`'s; a file set aside replaces the project file once that is recorded (the
    // project must then be opened again: editsAccepted() tells once the acceptance is also
    // committed). False with the reason.
    bool acceptHeld(const Actor& actor, QString* error);
    // The held settings are refused (recorded); a file set aside is renamed "... .rejected".
    bool rejectHeld(const Actor& actor, QString* error);

signals:
    // The check open() began is done (at once, or once the writer's waiting writes are in).
    void startChecked(bool ok);
    // Settings edited outside the recorder are held, or no longer.
    void heldEditChanged();
    // The acceptance of a file that was set aside is in the database: `projectPath` holds the
    // accepted settings and wants to be opened again.
    void editsAccepted(const QString& projectPath);

public:
    // The actions the entries carry.
    static QString settingsAcceptedAction() { return QStringLiteral("settings accepted"); }
    static QString outsideChangeAction() { return QStringLiteral("changed outside the recorder"); }
    static QString refusedAction() { return QStringLiteral("action refused"); }
    static QString heldAction() { return QStringLiteral("settings edited outside the recorder"); }
    static QString rejectedAction() { return QStringLiteral("settings rejected"); }

private:
    // With `projectFile`: the file's text is kept with the entry (ProjectFileCopy).
    void record(const QString& user, const QString& action, const QString& object,
                const QString& oldValue, const QString& newValue, const QString& reason,
                const QByteArray& projectFile = QByteArray());
    bool checkStart(QString* error);
    void stored(quint64 ticket, qint64 sequence);
    void secured(quint64 request, bool kept);
    // Records what differs from `before` to `after` (by a user, or outside the recorder), then
    // `accepted` as the settings in force.
    // `by`: who accepts changes made outside (none: the recorder takes them up itself).
    void recordDifferences(const SettingsSnapshot& before, const SettingsSnapshot& after,
                           bool outside, const SettingsSnapshot& accepted,
                           const std::optional<Actor>& by = std::nullopt,
                           const QByteArray& fileText = QByteArray());
    // Records `accepted` as the settings in force, with a copy of the project file: as it is,
    // or `fileText` (without its secrets) when given.
    void recordAccepted(const Actor& actor, const SettingsSnapshot& accepted,
                        const QByteArray& fileText = QByteArray());
    // editsAccepted() once the accepted file is in place and its acceptance committed.
    void reopenWhenAccepted();
    // Holds what differs from `previous` for a Supervisor (access control on).
    void hold(const SettingsSnapshot& previous);
    QString localTime(qint64 ms) const;

    QString m_projectPath;
    DatabaseWriter* m_writer;
    ActorSource m_actor;
    Clock m_wall;
    Clock m_monotonic;
    // The changes waiting for their entries to be durable, by the writer's request.
    QHash<quint64, std::function<void(bool)>> m_waiting;
    SettingsSnapshot m_accepted;
    SettingsSnapshot m_asOpened;
    Opening m_opening = Opening::Opened;
    EditedSettings::Outcome m_outside;
    std::optional<HeldEdit> m_held;
    // The acceptance of a file set aside, until it is stored.
    quint64 m_acceptTicket = 0;
    bool m_acceptStored = false;
    bool m_acceptApplied = false;
    quint64 m_lastTicket = 0;
    bool m_checked = false;
    // This run's entries: their tickets until stored, and the first one's sequence.
    QSet<quint64> m_ownTickets;
    qint64 m_firstOwnSequence = std::numeric_limits<qint64>::max();
    // The clocks at the last check; none before the first.
    bool m_clockKnown = false;
    qint64 m_lastWall = 0;
    qint64 m_lastMonotonic = 0;
};
