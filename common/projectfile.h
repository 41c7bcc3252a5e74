#pragma once

#include "gatewayconfig.h"
#include "reportdevicerecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// What the recorder takes from a project file.
struct ProjectData
{
    QList<GatewayConfig> gateways;
    QString projectName;
    int dataInterval = 0;
    // The largest report PDF mailed (key ReportMailMaxBytes).
    qint64 reportMailMaxBytes = 10 * 1024 * 1024;
    // The keys that could not be read (see ProjectKeyReader::problems()), for the window to show.
    QStringList keyProblems;
};

// Reading and writing of a project file (.tpc): an INI file whose keys all sit at the top level,
// with the device configuration as a JSON document under "DeviceList". Every call opens the file,
// reads its keys through ProjectKeyReader or sets them through QSettings, and closes it again.
class ProjectFile
{
public:
    explicit ProjectFile(const QString& path);

    const QString& path() const { return m_path; }

    // The project name a file gets at creation: its base name up to the first '.'.
    static QString projectNameFromPath(const QString& path);
    // The sample database lies beside the project file under the stored "databaseName".
    static QString databasePath(const QString& projectPath);

    // Recorder side.
    void create(int interval) const;
    void saveDeviceList(const QList<GatewayConfig>& gateways) const;
    void saveInterval(int interval) const;
    void saveRecordStartTime(const QString& text) const;
    void saveRecordStopTime(const QString& text) const;
    // False when "DeviceList" is not a JSON object or "databaseName" is not a plain file name;
    // nothing is filled in then. An interval the recorder does not offer reads as the default.
    bool load(ProjectData* project) const;

    // Report generator side. False when "DeviceList" is not a JSON object.
    bool loadReportDevices(QList<ReportDeviceRecord>* devices) const;
    // The recorded range as stored ("yyyy-MM-dd hh:mm:ss"; empty before the first recording).
    QString recordStartTime() const;
    QString recordStopTime() const;
    // The stored interval as it is, whether the recorder offers it or not.
    int storedInterval() const;
    // The subject and author of the last report made.
    QString reportSubject() const;
    QString reportAuthor() const;
    void saveReportTexts(const QString& subject, const QString& author) const;

    // The largest report PDF that is mailed, key ReportMailMaxBytes: whole bytes from
    // MinReportMailMaxBytes to MaxReportMailMaxBytes; absent, the default. Any other value
    // reads as the default and is told in `problems` (when not null).
    static constexpr qint64 DefaultReportMailMaxBytes = 10 * 1024 * 1024;
    static constexpr qint64 MinReportMailMaxBytes = 64 * 1024;
    static constexpr qint64 MaxReportMailMaxBytes = 25 * 1024 * 1024;
    qint64 reportMailMaxBytes(QStringList* problems = nullptr) const;
    // The same for a value as read from the file (invalid: absent).
    static qint64 parseReportMailMaxBytes(const QVariant& value, QString* problem);

    QString value(const QString& key) const;
    int intValue(const QString& key) const;
    void setValue(const QString& key, const QVariant& value) const;

    // The device-list document on its own, for the writer and for fuzzing the readers.
    static QByteArray deviceListDocument(const QList<GatewayConfig>& gateways);
    // The nodes' alarm rules, kept under "AlarmRules" beside the device list so that the list
    // stays as every reader of it knows it: a JSON document listing the nodes whose rules are
    // not the defaults. Empty when every node has the defaults (the key is then removed).
    static QByteArray alarmRulesDocument(const QList<GatewayConfig>& gateways);
    // Sets the rules of the nodes the document names, by serial number; nodes it does not name
    // keep the defaults. Values out of range read as the default, traced.
    // A value that cannot be read is traced; one that is refused rather than read as its
    // default (a node's daily out-of-service time) is added to `problems` too.
    static void parseAlarmRules(const QByteArray& document, QList<GatewayConfig>* gateways,
                                QStringList* problems = nullptr);
    static bool parseDeviceList(const QByteArray& document, QList<GatewayConfig>* gateways);
    static bool parseReportDevices(const QByteArray& document, QList<ReportDeviceRecord>* devices);

private:
    QString m_path;
};
