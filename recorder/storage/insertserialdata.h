#pragma once

#include "samplerecord.h"

#include <QObject>
#include <QString>

// Writer of a project's sample database. Samples wait in one process-wide queue, shared by all
// writers, until insertNow() stores them in one transaction.
class InsertSerialData : public QObject
{
public:
    InsertSerialData(const QString& databasePath, const QString& connectionName,
                     QObject* parent = nullptr);
    ~InsertSerialData() override;

    bool createConnection();
    bool createTable();

    static void queueSample(const SampleRecord& record);
    static int pendingCount();

    void insertNow();

    quint32 startDateTime();
    quint32 endDateTime();

private:
    bool applyPragmas();

    bool isOpen = false;
    QString databasePath;
    QString connectionName;
};
