#include "recentprojects.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const char* const Group = "RecentProjects";

QSettings recorderSettings()
{
    return QSettings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus"));
}

} // namespace

RecentProjects::RecentProjects()
{
    QSettings settings = recorderSettings();
    settings.beginGroup(QLatin1String(Group));
    recentList = settings.value(QStringLiteral("list")).toStringList();
    recentMap = settings.value(QStringLiteral("projects")).toMap();
    m_autoLoad = settings.value(QStringLiteral("autoLoad"), false).toBool();
    m_autoRecord = settings.value(QStringLiteral("autoRecord"), false).toBool();
}

QString RecentProjects::newestPath() const
{
    if (recentList.isEmpty() || recentMap.isEmpty())
        return QString();
    return recentMap.value(recentList.constFirst()).toString();
}

void RecentProjects::prune()
{
    const QStringList names = recentMap.keys();
    for (const QString& name : names) {
        if (!QFileInfo::exists(recentMap.value(name).toString())) {
            recentMap.remove(name);
            recentList.removeOne(name);
        }
    }
}

void RecentProjects::registerProject(const QString& projectFilePath)
{
    const QString name = QFileInfo(projectFilePath).baseName();
    if (recentMap.contains(name) || recentList.contains(name))
        return;
    recentMap.insert(name, projectFilePath);
    recentList.prepend(name);
    prune();
    save();
}

void RecentProjects::setAutoLoad(bool on)
{
    m_autoLoad = on;
    saveFlags();
}

void RecentProjects::setAutoRecord(bool on)
{
    m_autoRecord = on;
    saveFlags();
}

void RecentProjects::saveFlags() const
{
    QSettings settings = recorderSettings();
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QStringLiteral("autoLoad"), m_autoLoad);
    settings.setValue(QStringLiteral("autoRecord"), m_autoRecord);
}

void RecentProjects::save() const
{
    QSettings settings = recorderSettings();
    settings.beginGroup(QLatin1String(Group));
    settings.setValue(QStringLiteral("list"), recentList);
    settings.setValue(QStringLiteral("projects"), recentMap);
    settings.setValue(QStringLiteral("autoLoad"), m_autoLoad);
    settings.setValue(QStringLiteral("autoRecord"), m_autoRecord);
}
