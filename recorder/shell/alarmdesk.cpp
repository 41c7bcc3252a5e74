#include "alarmdesk.h"

#include "alarmeventstore.h"
#include "alarmmonitor.h"
#include "alarmscreen.h"
#include "projectalarms.h"

#include <QBoxLayout>

AlarmDesk::AlarmDesk(QWidget* window_, QBoxLayout* statusLayout, int position,
                     const Critical& critical)
    : QObject(window_), window(window_), sound(new AlarmSound(critical, this)),
      m_indicator(new AlarmIndicator)
{
    statusLayout->insertWidget(position, m_indicator);
    m_indicator->hide();
    connect(m_indicator, &QAbstractButton::clicked, this, &AlarmDesk::showScreen);
}

AlarmDesk::~AlarmDesk()
{
    close();
}

void AlarmDesk::open(const QString& projectPath, const QString& projectName,
                     const QList<ConfiguredDevice*>& gateways)
{
    alarms = std::make_unique<ProjectAlarms>(projectPath, projectName, gateways);
    connect(alarms.get(), &ProjectAlarms::countsChanged, m_indicator, &AlarmIndicator::setCounts);
    connect(alarms.get(), &ProjectAlarms::pendingWritesChanged, m_indicator,
            &AlarmIndicator::setPendingWrites);
    alarms->open();
    m_indicator->setCounts(alarms->activeCount(), alarms->unacknowledgedCount());
    m_indicator->setPendingWrites(alarms->store()->pendingCount());
    m_indicator->setVisible(true);
}

void AlarmDesk::close()
{
    delete m_screen;
    alarms.reset();
    if (m_indicator)
        m_indicator->setVisible(false);
    sound->stop();
}

void AlarmDesk::rulesChanged()
{
    if (alarms)
        alarms->rulesChanged();
}

void AlarmDesk::tick(const QList<ConfiguredDevice*>& gateways)
{
    if (alarms) {
        alarms->tick();
        sound->update(*alarms->monitor());
    } else {
        sound->update(gateways);
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
