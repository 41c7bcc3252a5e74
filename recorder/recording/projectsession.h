#pragma once

#include "datainterval.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class ConfiguredDevice;
class RecordingCycle;

// The recorder's open project without its window: the project file, which it reads and writes,
// the gateways with their nodes, which it owns, and while the project runs its recording cycle.
// The window keeps one for its whole life and hands the user's project commands to it.
class ProjectSession
{
public:
    ProjectSession();
    ProjectSession(const ProjectSession&) = delete;
    ProjectSession& operator=(const ProjectSession&) = delete;
    // The cycle goes first, then the gateways with their links.
    ~ProjectSession();

    QString filePath() const { return path; }
    QString name() const { return projectName; }
    // The sampling interval in milliseconds (the default while no project is open).
    int interval() const { return m_interval; }
    // The project file's keys the last load could not read, for the window to show.
    const QStringList& keyProblems() const { return m_keyProblems; }
    const QList<ConfiguredDevice*>& gateways() const { return gatewayList; }
    RecordingCycle* cycle() const { return m_cycle.get(); }

    // A project just made at `path`: its keys go into the file, with the default interval.
    void create(const QString& path);
    // Reads the project at `path` and adds its gateways; false, with nothing changed, when the
    // file holds no device list.
    bool load(const QString& path);
    // The editor's confirmed list replaces the gateways and goes into the file with `interval`;
    // the replaced gateways, closed already and shown nowhere, are deleted.
    void confirm(const QList<ConfiguredDevice*>& list, int interval);
    // The gateways' configuration into the file (after node options were edited).
    void saveDeviceList() const;
    enum class Launch
    {
        Started,
        NoDataFile,
        Failed
    };
    // Starts the data viewer or the report generator (`programName`, `options` after the
    // project path) on this project. Without a database nothing starts; before the start the
    // end of the recorded period goes into the file, for the program to read.
    Launch startProgram(const QString& programName, const QStringList& options) const;

    // The cycle on the project's database; false, and no cycle, when the file cannot be used.
    bool openCycle(const QString& connectionName);
    void closeCycle();

    // The nodes let go of the widgets that show them, which are about to go.
    void detachNodes();
    // The gateways' links closed; the gateways stay (the editor shows them).
    void closeGateways();
    // The gateways closed and deleted; the interval back to the default.
    void deleteGateways();
    // No project file any more.
    void forgetFile();

private:
    QString path;
    QString projectName;
    int m_interval = DefaultDataInterval;
    QStringList m_keyProblems;
    QList<ConfiguredDevice*> gatewayList;
    std::unique_ptr<RecordingCycle> m_cycle;
};
