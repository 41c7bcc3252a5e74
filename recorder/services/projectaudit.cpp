#include "projectaudit.h"

#include "alarmsilence.h"

#include "signaturegrant.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "alarmeventrecord.h"
#include "alarmsuppression.h"
#include "alarmtestrecord.h"
#include "calibrationrecord.h"
#include "alarmsilence.h"
#include "auditentry.h"
#include "auditlookup.h"
#include "databasewriter.h"
#include "notificationsettings.h"
#include "projectfile.h"
#include "projectfilecopy.h"
#include "projectforwarding.h"
#include "settingsdifference.h"
#include "writejob.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

const QString StartedAction = QStringLiteral("recording started");
const QString StoppedAction = QStringLiteral("recording stopped");
const QString UnstoppedAction = QStringLiteral("recording ended without a stop");
const QString RecordingObject = QStringLiteral("recording");

// A name from the environment is shown and stored: one short line of printable characters.
QString plainName(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.isPrint())
            out += c;
    }
    return out.trimmed().left(64);
}

QString secretObject(const QString& name)
{
    if (name == NotificationSettings::smtpPasswordSecret())
        return QStringLiteral("notifications, mail server password");
    if (name == NotificationSettings::heartbeatUrlSecret())
        return QStringLiteral("notifications, heartbeat URL");
    if (name.startsWith(QLatin1String("webhook-url/")))
        return QStringLiteral("notifications, webhook URL ") + plainName(name.mid(12));
    if (name == ProjectForwarding::mqttSecretName())
        return QStringLiteral("forwarding, MQTT password");
    if (name == ProjectForwarding::influxSecretName())
        return QStringLiteral("forwarding, InfluxDB password");
    return QStringLiteral("secret ") + plainName(name);
}

QString startedBy(ProjectAudit::Cause cause)
{
    switch (cause) {
    case ProjectAudit::Cause::User:
        return QStringLiteral("recording, started by the user");
    case ProjectAudit::Cause::AtStart:
        return QStringLiteral("recording, started by the recorder at start");
    case ProjectAudit::Cause::Signal:
    case ProjectAudit::Cause::Logout:
        break;
    }
    return QStringLiteral("recording");
}

QString stoppedBy(ProjectAudit::Cause cause)
{
    switch (cause) {
    case ProjectAudit::Cause::User:
        return QStringLiteral("stopped by the user");
    case ProjectAudit::Cause::Signal:
        return QStringLiteral("stopped by a signal to end the program");
    case ProjectAudit::Cause::Logout:
        return QStringLiteral("stopped by the end of the desktop session");
    case ProjectAudit::Cause::AtStart:
        break;
    }
    return QStringLiteral("stopped");
}

} // namespace

QString ProjectAudit::desktopUser()
{
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = plainName(qEnvironmentVariable(variable));
        if (!name.isEmpty())
            return name;
    }
    const QString owner = plainName(QFileInfo(QDir::homePath()).owner());
    return owner.isEmpty() ? QStringLiteral("unknown") : owner;
}

ProjectAudit::ProjectAudit(const QString& projectPath, DatabaseWriter* writer, QObject* parent)
    : QObject(parent), m_projectPath(projectPath), m_writer(writer)
{
    const QString user = desktopUser();
    m_actor = [user](const QString&) { return Actor{user, QString()}; };
    m_wall = [] { return QDateTime::currentMSecsSinceEpoch(); };
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    m_monotonic = [elapsed] { return elapsed->elapsed(); };
}

ProjectAudit::~ProjectAudit() = default;

void ProjectAudit::setActorSource(const ActorSource& source)
{
    m_actor = source;
}

void ProjectAudit::setClocks(const Clock& wall, const Clock& monotonic)
{
    m_wall = wall;
    m_monotonic = monotonic;
    m_clockKnown = false;
}

void ProjectAudit::setOutsideEdits(const EditedSettings::Outcome& outcome)
{
    m_outside = outcome;
}

bool ProjectAudit::open(Opening opening, QString* error)
{
    error->clear();
    m_opening = opening;
    m_asOpened = SettingsSnapshot::read(m_projectPath);
    m_accepted = m_asOpened;
    if (!m_writer) {
        *error = QStringLiteral("no database");
        return false;
    }
    connect(m_writer, &DatabaseWriter::jobStored, this, &ProjectAudit::stored);
    if (m_writer->status().waitingJobs == 0)
        return checkStart(error);
    // The last run's writes are still in the journal (an index build holds them, or the file
    // is locked): the check follows once they are in.
    connect(m_writer, &DatabaseWriter::statusChanged, this, [this] {
        if (m_checked || m_writer->status().waitingJobs > 0)
            return;
        QString reason;
        checkStart(&reason);
    });
    return true;
}

void ProjectAudit::stored(quint64 ticket, qint64 sequence)
{
    if (m_ownTickets.remove(ticket))
        m_firstOwnSequence = std::min(m_firstOwnSequence, sequence);
    if (m_acceptTicket != 0 && ticket == m_acceptTicket) {
        m_acceptStored = true;
        reopenWhenAccepted();
    }
}

bool ProjectAudit::checkStart(QString* error)
{
    m_checked = true;
    const QString database = ProjectFile::databasePath(m_projectPath);
    std::optional<AuditEntry> accepted;
    std::optional<AuditEntry> recording;
    if (!AuditLookup::latest(database, {settingsAcceptedAction()}, m_firstOwnSequence, &accepted,
                             error) ||
        !AuditLookup::latest(database, {StartedAction, StoppedAction, UnstoppedAction},
                             m_firstOwnSequence, &recording, error)) {
        qWarning().noquote() << QStringLiteral("ProjectAudit::open : ") + *error;
        emit startChecked(false);
        return false;
    }

    if (recording && recording->action == StartedAction)
        record(automaticUser(), UnstoppedAction, RecordingObject,
               QStringLiteral("recording since ") + localTime(recording->timeMs),
               QStringLiteral("stopped by a kill or a power loss, found at the next start"),
               QString());

    SettingsSnapshot previous;
    if (accepted && !SettingsSnapshot::fromText(accepted->newValue.toUtf8(), &previous))
        qWarning() << "ProjectAudit::open : the accepted settings cannot be read; all are new";
    if (!accepted && m_opening == Opening::Opened) {
        // A project older than the trail starts from its file as it was opened.
        recordAccepted(Actor{automaticUser(), QString()}, m_accepted);
    } else if (m_outside.accessControl && m_opening == Opening::Opened) {
        hold(previous);
    } else {
        // One made in the editor just now has every gateway and node added by the user.
        recordDifferences(previous, m_asOpened, m_opening == Opening::Opened, m_accepted);
    }
    emit startChecked(true);
    return true;
}

void ProjectAudit::settingsSaved()
{
    const SettingsSnapshot now = SettingsSnapshot::read(m_projectPath);
    recordDifferences(m_accepted, now, false, now);
}

void ProjectAudit::recordDifferences(const SettingsSnapshot& before, const SettingsSnapshot& after,
                                     bool outside, const SettingsSnapshot& accepted,
                                     const std::optional<Actor>& by, const QByteArray& fileText)
{
    const SettingsDifference difference(before, after);
    if (difference.isEmpty())
        return;
    Actor actor{automaticUser(), QString()};
    if (by)
        actor = *by;
    else if (!outside)
        actor = m_actor(QStringLiteral("setting changed"));
    for (const SettingsDifference::Item& item : difference.items()) {
        QString action = outsideChangeAction();
        QString oldValue = item.oldValue;
        QString newValue = item.newValue;
        switch (item.kind) {
        case SettingsDifference::Item::Kind::Added:
            if (outside)
                newValue = QStringLiteral("added: ") + newValue;
            else
                action = QStringLiteral("added");
            break;
        case SettingsDifference::Item::Kind::Removed:
            if (outside)
                oldValue = QStringLiteral("removed: ") + oldValue;
            else
                action = QStringLiteral("removed");
            break;
        case SettingsDifference::Item::Kind::Changed:
            if (!outside)
                action = QStringLiteral("setting changed");
            break;
        }
        record(actor.user, action, SettingsDifference::subject(item), oldValue, newValue,
               actor.reason);
    }
    recordAccepted(actor, accepted, fileText);
}

void ProjectAudit::recordAccepted(const Actor& actor, const SettingsSnapshot& accepted,
                                  const QByteArray& fileText)
{
    // The file whose settings are accepted (as it is now, unless given): the copy the recorder
    // puts back when the file is edited by hand under access control.
    QFile file(m_projectPath);
    if (!fileText.isNull() ||
        (file.open(QIODevice::ReadOnly) && file.size() <= ProjectFileCopy::MaximumBytes)) {
        const QByteArray text =
            fileText.isNull() ? EditedSettings::withoutSecrets(file.readAll()) : fileText;
        if (EditedSettings::settingsOf(text) == accepted)
            record(actor.user, ProjectFileCopy::keptAction(), QStringLiteral("project file"),
                   QString(), ProjectFileCopy::describe(text), actor.reason, text);
        else
            qWarning() << "ProjectAudit : the project file changed meanwhile; no copy kept";
    } else {
        qWarning() << "ProjectAudit : the project file cannot be kept";
    }
    record(actor.user, settingsAcceptedAction(), QStringLiteral("project settings"), QString(),
           QString::fromUtf8(accepted.toText()), actor.reason);
    m_accepted = accepted;
}

void ProjectAudit::hold(const SettingsSnapshot& previous)
{
    const bool aside = !m_outside.asidePath.isEmpty();
    const SettingsSnapshot edited =
        aside ? SettingsSnapshot::read(m_outside.asidePath) : m_asOpened;
    const SettingsDifference difference(previous, edited);
    m_accepted = previous;
    if (difference.isEmpty())
        return;
    const QStringList lines = difference.lines();
    const QString asideName = QFileInfo(m_outside.asidePath).fileName();
    QString what = aside ? QStringLiteral("set aside as ") + asideName +
                               QStringLiteral("; the accepted settings restored")
                         : QStringLiteral("not restored (") + m_outside.problem +
                               QStringLiteral("); running on the file as found");
    what += QStringLiteral("; waiting for a Supervisor: ") + lines.join(QStringLiteral("; "));
    record(automaticUser(), heldAction(), QStringLiteral("project settings"), QString(), what,
           QString());
    m_held = HeldEdit{m_outside.asidePath, aside ? QString() : m_outside.problem, edited, lines};
    emit heldEditChanged();
}

bool ProjectAudit::acceptHeld(const Actor& actor, QString* error)
{
    if (!m_held) {
        *error = QStringLiteral("No edited settings wait.");
        return false;
    }
    const HeldEdit held = *m_held;
    const bool aside = !held.asidePath.isEmpty();
    QFile file(aside ? held.asidePath : m_projectPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > ProjectFileCopy::MaximumBytes) {
        *error = QStringLiteral("The edited file cannot be read: ") + file.fileName();
        return false;
    }
    const QByteArray text = file.readAll();
    file.close();
    if (EditedSettings::settingsOf(text) != held.edited) {
        *error = QStringLiteral("The edited file changed since it was found; open the project "
                                "again to see its differences.");
        return false;
    }
    recordDifferences(m_accepted, held.edited, true, held.edited, actor,
                      EditedSettings::withoutSecrets(text));
    m_held.reset();
    emit heldEditChanged();
    if (!aside)
        return true;
    m_acceptTicket = m_lastTicket;
    m_acceptStored = false;
    m_acceptApplied = false;
    // The edited file takes the project file's place once its acceptance is recorded.
    whenRecorded([this, held, text](bool recorded) {
        QString why = QStringLiteral("the acceptance could not be recorded");
        if (!recorded || !EditedSettings::replace(m_projectPath, text, &why)) {
            qWarning().noquote() << QStringLiteral("ProjectAudit : the accepted file stays set "
                                                   "aside: ") +
                                        why;
            m_acceptTicket = 0;
            return;
        }
        QFile::remove(held.asidePath);
        m_acceptApplied = true;
        reopenWhenAccepted();
    });
    return true;
}

void ProjectAudit::reopenWhenAccepted()
{
    // Both the file in place and the acceptance in the database: the next opening finds them
    // agreeing.
    if (m_acceptTicket == 0 || !m_acceptStored || !m_acceptApplied)
        return;
    m_acceptTicket = 0;
    emit editsAccepted(m_projectPath);
}

bool ProjectAudit::rejectHeld(const Actor& actor, QString* error)
{
    if (!m_held) {
        *error = QStringLiteral("No edited settings wait.");
        return false;
    }
    QString kept = QStringLiteral("the file as found stays in use: no accepted copy to put back");
    if (!m_held->asidePath.isEmpty()) {
        const QString rejected =
            EditedSettings::freeName(m_projectPath, EditedSettings::rejectedSuffix());
        if (!QFile::rename(m_held->asidePath, rejected)) {
            *error = QStringLiteral("The edited file cannot be renamed: ") + m_held->asidePath;
            return false;
        }
        kept = QStringLiteral("kept as ") + QFileInfo(rejected).fileName();
    }
    record(actor.user, rejectedAction(), QStringLiteral("project settings"),
           m_held->lines.join(QStringLiteral("; ")), kept, actor.reason);
    if (m_writer)
        m_writer->flush(m_wall());
    m_held.reset();
    emit heldEditChanged();
    return true;
}

void ProjectAudit::secretChanged(const QString& secretName)
{
    const QString action = QStringLiteral("setting changed");
    const Actor actor = m_actor(action);
    record(actor.user, action, secretObject(secretName), QString(),
           QStringLiteral("password changed"), actor.reason);
}

void ProjectAudit::recordingStarted(Cause cause)
{
    Actor actor{automaticUser(), QString()};
    if (cause == Cause::User)
        actor = m_actor(StartedAction);
    record(actor.user, StartedAction, RecordingObject, QStringLiteral("stopped"), startedBy(cause),
           actor.reason);
}

void ProjectAudit::recordingStopped(Cause cause)
{
    Actor actor{automaticUser(), QString()};
    if (cause == Cause::User)
        actor = m_actor(StoppedAction);
    record(actor.user, StoppedAction, RecordingObject, QStringLiteral("recording"),
           stoppedBy(cause), actor.reason);
}

void ProjectAudit::alarmAcknowledged(const AlarmEventRecord& event)
{
    const QString action = QStringLiteral("alarm acknowledged");
    const Actor actor = m_actor(action);
    QString object = QStringLiteral("alarm event %1").arg(event.id);
    if (!event.serial.isEmpty())
        object += QStringLiteral(", node ") + event.serial + QStringLiteral(", ") +
                  alarmKindText(event.kind);
    QString newValue = QStringLiteral("acknowledged by ") + event.acknowledgedBy;
    if (!event.comment.isEmpty())
        newValue += QStringLiteral(": ") + event.comment;
    const CorrectiveAction& a = event.action;
    if (!a.isEmpty()) {
        QStringList parts;
        if (!a.cause.isEmpty())
            parts << QStringLiteral("cause ") + a.cause;
        if (!a.actionTaken.isEmpty())
            parts << QStringLiteral("action ") + a.actionTaken;
        parts << QStringLiteral("product ") + a.productAffected +
                     (a.quantity.isEmpty() ? QString() : QStringLiteral(" (") + a.quantity +
                                                             QStringLiteral(")"));
        if (!a.decidedBy.isEmpty())
            parts << QStringLiteral("decided by ") + a.decidedBy;
        newValue += QStringLiteral("; ") + parts.join(QStringLiteral("; "));
    }
    record(actor.user, action, object, QStringLiteral("unacknowledged"), newValue, actor.reason);
}

namespace {

QString suppressionObject(const AlarmSuppression& s)
{
    QString object = QStringLiteral("node ") + s.serial;
    if (s.kind == AlarmSuppression::Kind::Shelve)
        object += s.channel == 0 ? QStringLiteral(", all alarms")
                                 : QStringLiteral(", channel %1").arg(s.channel);
    return object + QStringLiteral(" (%1)").arg(s.id);
}

QString untilText(const AlarmSuppression& s)
{
    return QStringLiteral("until ") +
           QDateTime::fromSecsSinceEpoch(s.until).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

void ProjectAudit::suppressionStarted(const AlarmSuppression& s, const Actor& actor)
{
    const bool shelve = s.kind == AlarmSuppression::Kind::Shelve;
    record(actor.user,
           shelve ? QStringLiteral("alarm shelved") : QStringLiteral("put out of service"),
           suppressionObject(s), shelve ? QStringLiteral("sounding") : QStringLiteral("in service"),
           untilText(s), s.reason);
}

void ProjectAudit::suppressionEnded(const AlarmSuppression& s, const Actor& actor)
{
    const bool shelve = s.kind == AlarmSuppression::Kind::Shelve;
    record(actor.user,
           shelve ? QStringLiteral("alarm unshelved") : QStringLiteral("back in service"),
           suppressionObject(s), untilText(s),
           shelve ? QStringLiteral("sounding") : QStringLiteral("in service"), actor.reason);
}

QString ProjectAudit::calibrationSummary(const CalibrationRecord& e)
{
    const auto number = [](const std::optional<double>& value) {
        return value ? QString::number(*value) : QStringLiteral("not given");
    };
    QStringList parts{QStringLiteral("certificate ") + e.certificate,
                      QStringLiteral("laboratory ") + e.laboratory,
                      QStringLiteral("calibrated ") + CalibrationRecord::dateText(e.calibrated),
                      QStringLiteral("due ") + CalibrationRecord::dateText(e.due)};
    if (!e.reference.isEmpty())
        parts << QStringLiteral("reference ") + e.reference;
    parts << QStringLiteral("as found ") + number(e.asFound)
          << QStringLiteral("as left ") + number(e.asLeft)
          << QStringLiteral("uncertainty ") + QString::number(e.uncertainty);
    if (!e.certificateFile.isEmpty())
        parts << QStringLiteral("file ") + e.certificateFile;
    parts << QStringLiteral("entry ") + QString::number(e.id);
    return parts.join(QStringLiteral("; "));
}

void ProjectAudit::calibrationEntered(const CalibrationRecord& e, const Actor& actor)
{
    record(actor.user, QStringLiteral("calibration recorded"),
           QStringLiteral("calibration node ") + e.serial + QLatin1Char(' ') + e.column, QString(),
           calibrationSummary(e), actor.reason);
}

void ProjectAudit::alarmTestPerformed(const QVector<AlarmTestRecord>& rows, const Actor& actor)
{
    if (rows.isEmpty())
        return;
    QStringList answers;
    for (const AlarmTestRecord& r : rows)
        answers << r.target + QStringLiteral(": ") + r.answer;
    record(actor.user, QStringLiteral("alarm test"),
           QStringLiteral("alarm test ") + QString::number(rows.first().testId), QString(),
           QStringLiteral("nodes ") + rows.first().nodes + QStringLiteral("; ") +
               answers.join(QStringLiteral(", ")),
           actor.reason);
}

void ProjectAudit::suppressionExpired(const AlarmSuppression& s)
{
    suppressionEnded(s, Actor{automaticUser(), QStringLiteral("its time is over")});
}

void ProjectAudit::reportRecorded(const QString& action, const QString& object,
                                  const QString& value)
{
    record(automaticUser(), action, object, QString(), value, QString());
}

void ProjectAudit::soundSilenced(int minutes, const QString& user)
{
    record(user.isEmpty() ? desktopUser() : user, QStringLiteral("alarm sound silenced"),
           QStringLiteral("alarm sound"), QString(),
           QStringLiteral("for %1 minutes, unsigned").arg(AlarmSilence::bounded(minutes)),
           QString());
}

ElectronicSignature ProjectAudit::recordSignature(const SignedRecord& record,
                                                  const QString& meaning,
                                                  const SignatureGrant& grant)
{
    const ElectronicSignature signature =
        SignatureTable::make(record, grant.signer, grant.fullName, meaning, grant.timeMs);
    if (!m_writer) {
        qWarning().noquote() << QStringLiteral("ProjectAudit : no database to record a signature");
        return signature;
    }
    m_lastTicket = m_writer->submit(WriteJob::signature(signature));
    m_ownTickets.insert(m_lastTicket);
    return signature;
}

void ProjectAudit::deskSettingChanged(const QString& object, const QString& oldValue,
                                      const QString& newValue)
{
    const QString action = QStringLiteral("setting changed");
    const Actor actor = m_actor(action);
    record(actor.user, action, object, oldValue, newValue, actor.reason);
}

void ProjectAudit::backupFailed(const QString& folder, const QString& reason)
{
    record(automaticUser(), QStringLiteral("backup failed"), QStringLiteral("daily backup"),
           QString(), reason, QStringLiteral("copy into ") + folder);
}

void ProjectAudit::actionRefused(const QString& user, const QString& action, const QString& what)
{
    record(user, refusedAction(), what, QString(), action, QString());
}

void ProjectAudit::checkClock()
{
    const qint64 wall = m_wall();
    const qint64 monotonic = m_monotonic();
    if (m_clockKnown) {
        const qint64 expected = m_lastWall + (monotonic - m_lastMonotonic);
        if (qAbs(wall - expected) > ClockJumpMs)
            record(automaticUser(), QStringLiteral("clock changed"),
                   QStringLiteral("computer clock"), localTime(expected), localTime(wall),
                   QString());
    }
    m_clockKnown = true;
    m_lastWall = wall;
    m_lastMonotonic = monotonic;
}

void ProjectAudit::whenRecorded(const std::function<void(bool recorded)>& apply)
{
    if (!m_writer) {
        apply(false);
        return;
    }
    if (m_waiting.isEmpty())
        connect(m_writer, &DatabaseWriter::secured, this, &ProjectAudit::secured,
                Qt::UniqueConnection);
    m_waiting.insert(m_writer->secure(m_wall()), apply);
}

void ProjectAudit::secured(quint64 request, bool kept)
{
    const std::function<void(bool)> then = m_waiting.take(request);
    if (then)
        then(kept);
}

void ProjectAudit::record(const QString& user, const QString& action, const QString& object,
                          const QString& oldValue, const QString& newValue, const QString& reason,
                          const QByteArray& projectFile)
{
    if (!m_writer) {
        qWarning().noquote() << QStringLiteral("ProjectAudit : no database to record ") + action;
        return;
    }
    AuditEntry entry;
    entry.timeMs = m_wall();
    entry.user = user;
    entry.action = action;
    entry.object = object;
    entry.oldValue = oldValue;
    entry.newValue = newValue;
    entry.reason = reason;
    m_lastTicket = m_writer->submit(WriteJob::auditRecord(entry, projectFile));
    m_ownTickets.insert(m_lastTicket);
}

QString ProjectAudit::localTime(qint64 ms) const
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
