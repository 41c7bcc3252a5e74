#include "alarmdesk.h"
#include "recorderstatusbar.h"

#include "alarmeventstore.h"
#include "alarmmonitor.h"
#include "alarmscreen.h"
#include "notificationdialog.h"
#include "outboxindicator.h"
#include "projectalarms.h"
#include "projectaudit.h"
#include "projectnotifications.h"
#include "projectservices.h"
#include "reportscheduledialog.h"

#include <QBoxLayout>
#include <QLabel>

AlarmDesk::AlarmDesk(QWidget* window_, QBoxLayout* statusLayout, int position,
                     const Critical& critical, ProjectServices* services)
    : QObject(window_), window(window_), m_critical(critical),
      sound(new AlarmSound(critical, this)),
      m_indicator(new AlarmIndicator), m_services(services)
{
    statusLayout->insertWidget(position, m_indicator);
    m_indicator->hide();
    m_outboxIndicator = new OutboxIndicator;
    statusLayout->insertWidget(position + 1, m_outboxIndicator);
    // Gives way to the alarms' indicator on a small screen; the server's answer is in the tool
    // tip.
    m_outboxIndicator->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
    connect(m_indicator, &QAbstractButton::clicked, this, &AlarmDesk::showScreen);
    connect(m_indicator, &AlarmIndicator::silenceRequested, this, &AlarmDesk::silence);
    connect(sound, &AlarmSound::silenceChanged, this, [this] {
        if (m_screen)
            m_screen->setSilencedUntil(sound->silencedUntil());
    });
    connect(services, &ProjectServices::countsChanged, m_indicator, &AlarmIndicator::setCounts);
    connect(services, &ProjectServices::pendingWritesChanged, m_indicator,
            &AlarmIndicator::setPendingWrites);
    connect(services, &ProjectServices::outboxStateChanged, m_outboxIndicator,
            &OutboxIndicator::setState);
    connect(services, &ProjectServices::passwordNoteChanged, m_outboxIndicator,
            &OutboxIndicator::setNote);
    connect(services, &ProjectServices::keyProblemsChanged, this, &AlarmDesk::keyProblemsChanged);
    // Calibrations due: the first in the bar (the soonest), all of them in its tool tip and on
    // the Alarms screen. No alarm: no sound, no count.
    m_calibrationNote = new QLabel;
    m_calibrationNote->setObjectName(QStringLiteral("label_calibrationNote"));
    m_calibrationNote->setStyleSheet(QStringLiteral("color: rgb(240, 190, 60);"));
    m_calibrationNote->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
    m_calibrationNote->hide();
    statusLayout->insertWidget(position + 2, m_calibrationNote);
    connect(services, &ProjectServices::calibrationNotesChanged, this,
            [this](const QStringList& notes) {
                m_calibrationNotes = notes;
                if (m_calibrationNote) {
                    QString text = notes.value(0);
                    if (notes.size() > 1)
                        text += QStringLiteral(" (+%1 more)").arg(notes.size() - 1);
                    m_calibrationNote->setText(text);
                    m_calibrationNote->setToolTip(notes.join(QLatin1Char('\n')));
                    m_calibrationNote->setVisible(!notes.isEmpty());
                }
                if (m_screen)
                    m_screen->setCalibrationNotes(notes);
            });
    m_reportNote = new QLabel;
    m_reportNote->setObjectName(QStringLiteral("label_reportNote"));
    m_reportNote->setStyleSheet(QStringLiteral("color: rgb(240, 190, 60);"));
    m_reportNote->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
    m_reportNote->hide();
    statusLayout->insertWidget(position + 3, m_reportNote);
    connect(services, &ProjectServices::reportNoteChanged, m_reportNote, [this](const QString& note) {
        m_reportNote->setText(note);
        m_reportNote->setToolTip(note);
        m_reportNote->setVisible(!note.isEmpty());
    });
}

AlarmDesk::~AlarmDesk()
{
    close();
}

// The alarms are the project's services'; the desk shows them.
void AlarmDesk::open(const QString& projectPath, const QString& projectName,
                     const QList<ConfiguredDevice*>& gateways, DatabaseWriter* writer)
{
    m_services->openAlarms(projectPath, projectName, gateways, writer);
    m_projectPath = projectPath;
    m_projectName = projectName;
    ProjectAlarms* alarms = m_services->alarms();
    m_indicator->setCounts(alarms->activeCount(), alarms->unacknowledgedCount());
    m_indicator->setPendingWrites(alarms->store()->pendingCount());
    m_indicator->setVisible(true);
}

void AlarmDesk::close()
{
    delete m_screen;
    // The alarms end first, as "recorder stopped" (see ProjectServices::closeAlarms()).
    if (m_services && m_services->alarms())
        emit keyProblemsChanged(QStringList());
    if (m_services)
        m_services->closeAlarms();
    if (m_outboxIndicator) {
        m_outboxIndicator->setState(0, QString());
        m_outboxIndicator->setNote(QString());
    }
    if (m_indicator)
        m_indicator->setVisible(false);
    sound->stop();
}

void AlarmDesk::silence(int minutes)
{
    ProjectAlarms* alarms = projectAlarms();
    if (!alarms || !alarms->monitor()->soundWanted())
        return;
    sound->silence(minutes, *alarms->monitor());
    if (ProjectAudit* audit = m_services->audit()) {
        const QString user = m_silenceUser ? m_silenceUser() : QString();
        audit->soundSilenced(AlarmSilence::bounded(minutes),
                             user.isEmpty() ? ProjectAudit::desktopUser() : user);
    }
}

ProjectAlarms* AlarmDesk::projectAlarms() const
{
    return m_services ? m_services->alarms() : nullptr;
}

ProjectNotifications* AlarmDesk::notifications() const
{
    return m_services ? m_services->notifications() : nullptr;
}

void AlarmDesk::rulesChanged()
{
    if (m_services)
        m_services->rulesChanged();
}

void AlarmDesk::tick()
{
    if (ProjectAlarms* alarms = projectAlarms()) {
        m_services->tick();
        sound->update(*alarms->monitor());
    } else {
        sound->stop();
    }
}

void AlarmDesk::setShelving(const AlarmScreen::ShelveRequest& shelve,
                            const AlarmScreen::UnshelveRequest& unshelve)
{
    m_shelve = shelve;
    m_unshelve = unshelve;
    if (m_screen)
        m_screen->setShelving(shelve, unshelve);
}

void AlarmDesk::showScreen()
{
    ProjectAlarms* alarms = projectAlarms();
    if (!alarms)
        return;
    if (!m_screen) {
        m_screen = new AlarmScreen(alarms, window);
        m_screen->setAcknowledgeGate(m_acknowledgeGate);
        m_screen->setAcknowledgeSigner(m_acknowledgeSigner);
        m_screen->setShelving(m_shelve, m_unshelve);
        m_screen->setSilencedUntil(sound->silencedUntil());
        m_screen->setCalibrationNotes(m_calibrationNotes);
        connect(m_screen, &AlarmScreen::silenceRequested, this, &AlarmDesk::silence);
        m_screen->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_screen->show();
    m_screen->raise();
    m_screen->activateWindow();
}

AlarmScreen* AlarmDesk::screen() const
{
    return m_screen;
}

void AlarmDesk::showReportScheduleDialog()
{
    ProjectNotifications* notes = notifications();
    if (!projectAlarms() || !notes)
        return;
    const QString mailNote =
        notes->settings().emailEnabled
            ? QString()
            : QStringLiteral("E-mail notifications are off: reports are made but not mailed.");
    auto* dialog = new ReportScheduleDialog(m_projectPath, mailNote, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] {
        if (!m_services)
            return;
        ProjectAudit* audit = m_services->audit();
        if (!audit) {
            m_services->reloadReports();
            return;
        }
        audit->settingsSaved();
        QPointer<ProjectServices> services(m_services);
        audit->whenRecorded([this, services](bool recorded) {
            if (!services)
                return;
            if (recorded)
                services->reloadReports();
            else
                m_critical(QStringLiteral("ERROR"),
                           QStringLiteral("The report schedule is saved in the project file, but "
                                          "its record could not be written (is the disk full?): "
                                          "the running schedule keeps the settings before it."));
        });
    });
    dialog->open();
}

// The dialog answers later (the secrets come and go through the user's secret store).
void AlarmDesk::showNotificationDialog()
{
    if (!projectAlarms())
        return;
    auto* dialog = new NotificationDialog(m_projectPath, m_projectName, nullptr, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The running notifications take the change once its record is durable.
    connect(dialog, &QDialog::accepted, this, [this] {
        if (!m_services)
            return;
        ProjectAudit* audit = m_services->audit();
        if (!audit) {
            m_services->reloadNotifications();
            return;
        }
        audit->settingsSaved();
        QPointer<ProjectServices> services(m_services);
        audit->whenRecorded([this, services](bool recorded) {
            if (!services)
                return;
            if (recorded)
                services->reloadNotifications();
            else
                m_critical(QStringLiteral("ERROR"),
                           QStringLiteral("The notification settings are saved in the project "
                                          "file, but their record could not be written (is the "
                                          "disk full?): the running notifications keep the "
                                          "settings before them."));
        });
    });
    connect(dialog->secretStore(), &SecretStore::written, this,
            [this](const QString& name, bool ok) {
                if (ok && m_services && m_services->audit())
                    m_services->audit()->secretChanged(name);
            });
    dialog->open();
}
