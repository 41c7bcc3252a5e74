#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

class QListWidgetItem;

// The statistics worker: reads the chosen channels' samples of the report period from the
// sample database on its own connection, keeps every sample for the chart (sampleRows) and
// condenses them into one-hour periods with average, minimum and maximum (periodRows).
class GenerateAverageQueries : public QThread
{
    Q_OBJECT

public:
    // The items' tooltips are copied here, on the caller's thread; the run never touches the
    // items.
    GenerateAverageQueries(const QString& connectionKey, const QString& databasePath,
                           const QString& projectFolder, const QString& startText,
                           const QString& endText, const QList<QListWidgetItem*>& items,
                           QObject* parent = nullptr);
    GenerateAverageQueries(const QString& connectionKey, const QString& databasePath,
                           const QString& projectFolder, const QString& startText,
                           const QString& endText, const QStringList& channelKeys,
                           QObject* parent = nullptr);

signals:
    void done();
    void wholeCount(int);
    void createHashTables();
    void progPlus(int);
    void error(QString);

protected:
    void run() override;

private:
    using SampleMap = QMap<qint64, QVariant>;

    bool makeModels();
    void average();

    QString connectionKey;
    QString databasePath;
    QString projectFolder;
    QString startText;
    QString endText;
    QStringList toolTips;
    QList<SampleMap> models;
    int progressCount = 0;
};
