#pragma once

#include <QStringList>
#include <QVariantMap>

// The recorder's user settings, group "RecentProjects" of the native settings store: the recent
// projects, newest first, with their paths by name, and the two start-up flags. Read at
// construction; written when a project is registered or a flag changes.
class RecentProjects
{
public:
    RecentProjects();

    QStringList names() const { return recentList; }
    QVariantMap paths() const { return recentMap; }
    // The path of the newest project; empty when there is none.
    QString newestPath() const;

    // Projects whose file is gone leave both lists; the settings follow at the next register().
    void prune();
    // A project opened: listed first under its file's base name unless that name is known
    // already, then pruned and all four keys written.
    void registerProject(const QString& projectFilePath);

    bool autoLoad() const { return m_autoLoad; }
    bool autoRecord() const { return m_autoRecord; }
    void setAutoLoad(bool on);
    void setAutoRecord(bool on);
    void saveFlags() const;

private:
    void save() const;

    QStringList recentList;
    QVariantMap recentMap;
    bool m_autoLoad = false;
    bool m_autoRecord = false;
};
