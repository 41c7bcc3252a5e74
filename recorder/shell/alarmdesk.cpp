#include "alarmdesk.h"
#include "recorderstatusbar.h"

#include "alarmeventstore.h"
#include "alarmmonitor.h"
#include "alarmscreen.h"
#include "notificationdialog.h"
#include "outboxindicator.h"
#include "projectalarms.h"
#include "projectfile.h"
#include "projectnotifications.h"
#include "writeralarmeventstore.h"

#include <QBoxLayout>
#include <QDebug>

AlarmDesk::AlarmDesk(QWidget* window_, QBoxLayout* statusLayout, int position,
                     const Critical& critical)
    : QObject(window_), window(window_), sound(new AlarmSound(critical, this)),
      m_indicator(new AlarmIndicator)
{
    statusLayout->insertWidget(position, m_indicator);
    m_indicator->hide();
    m_outboxIndicator = new OutboxIndicator;
    statusLayout->insertWidget(position + 1, m_outboxIndicator);
    // Gives way to the alarms' indicator on a small screen; the server's answer is in the tool
    // tip.
    m_outboxIndicator->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
    connect(m_indicator, &QAbstractButton::clicked, this, &AlarmDesk::showScreen);
}

AlarmDesk::~AlarmDesk()
{
    close();
}

// The log goes through the project's one writer, so that the GUI thread never waits on the file.
void AlarmDesk::open(const QString& projectPath, const QString& projectName,
                     const QList<ConfiguredDevice*>& gateways, DatabaseWriter* writer)
{
    store = std::make_unique<WriterAlarmEventStore>(writer, ProjectFile::databasePath(projectPath));
    if (!store->open())
        qWarning().noquote() << QStringLiteral("AlarmDesk::open : ") + store->errorText();
    alarms = std::make_unique<ProjectAlarms>(projectPath, projectName, gateways, store.get());
    connect(alarms.get(), &ProjectAlarms::countsChanged, m_indicator, &AlarmIndicator::setCounts);
    connect(store.get(), &WriterAlarmEventStore::written, alarms.get(), &ProjectAlarms::logWritten);
    connect(store.get(), &WriterAlarmEventStore::pendingChanged, m_indicator,
            &AlarmIndicator::setPendingWrites);
    alarms->open();
    m_projectPath = projectPath;
    m_projectName = projectName;
    m_notifications =
        std::make_unique<ProjectNotifications>(projectPath, writer, alarms->monitor());
    connect(m_notifications.get(), &ProjectNotifications::outboxStateChanged, m_outboxIndicator,
            &OutboxIndicator::setState);
    connect(m_notifications.get(), &ProjectNotifications::passwordNoteChanged, m_outboxIndicator,
            &OutboxIndicator::setNote);
    connect(m_notifications.get(), &ProjectNotifications::keyProblemsChanged, this,
            &AlarmDesk::keyProblemsChanged);
    m_notifications->start();
    m_indicator->setCounts(alarms->activeCount(), alarms->unacknowledgedCount());
    m_indicator->setPendingWrites(alarms->store()->pendingCount());
    m_indicator->setVisible(true);
}

void AlarmDesk::close()
{
    delete m_screen;
    // The alarms end first, as "recorder stopped": their end messages go into the outbox while
    // it is there. What waits stays in the outbox for the next start.
    if (alarms)
        alarms->stop();
    if (m_notifications)
        emit keyProblemsChanged(QStringList());
    m_notifications.reset();
    if (m_outboxIndicator) {
        m_outboxIndicator->setState(0, QString());
        m_outboxIndicator->setNote(QString());
    }
    alarms.reset();
    // Its last writes are the writer's now, which goes with the recording cycle after this.
    store.reset();
    if (m_indicator)
        m_indicator->setVisible(false);
    sound->stop();
}

void AlarmDesk::rulesChanged()
{
    if (alarms)
        alarms->rulesChanged();
}

void AlarmDesk::tick()
{
    if (alarms) {
        alarms->tick();
        m_notifications->tick();
        sound->update(*alarms->monitor());
    } else {
        sound->stop();
    }
}

void AlarmDesk::showScreen()
{
    if (!alarms)
        return;
    if (!m_screen) {
        m_screen = new AlarmScreen(alarms.get(), window);
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

// The dialog answers later (the secrets come and go through the user's secret store).
void AlarmDesk::showNotificationDialog()
{
    if (!alarms)
        return;
    auto* dialog = new NotificationDialog(m_projectPath, m_projectName, nullptr, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this] {
        if (m_notifications)
            m_notifications->reload();
    });
    dialog->open();
}
