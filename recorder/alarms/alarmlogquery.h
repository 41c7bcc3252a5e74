#pragma once

#include "alarmeventrecord.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class QThread;
class AlarmLogReader;

// Questions to the project's alarm event log, answered on a thread of its own with a read-only
// connection: the thread that asks (the GUI thread) never waits for the file. Answers come back
// queued, each with the id of its request; a newer request of the same kind makes older answers
// stale, which the asker tells by the id.
class AlarmLogQuery : public QObject
{
    Q_OBJECT

public:
    explicit AlarmLogQuery(const QString& databasePath, QObject* parent = nullptr);
    // Waits for the question in progress (a small query) and ends the thread.
    ~AlarmLogQuery() override;

    quint64 list(const AlarmEventFilter& filter);
    quint64 count(const AlarmEventFilter& filter);

signals:
    void listed(quint64 request, const QVector<AlarmEventRecord>& events, const QString& error);
    void counted(quint64 request, qint64 count, const QString& error);

private:
    std::unique_ptr<QThread> thread;
    AlarmLogReader* reader = nullptr;
    quint64 lastRequest = 0;
};

// The reader behind AlarmLogQuery, on its thread.
class AlarmLogReader : public QObject
{
    Q_OBJECT

public:
    explicit AlarmLogReader(const QString& databasePath);
    ~AlarmLogReader() override;

public slots:
    void list(quint64 request, const AlarmEventFilter& filter);
    void count(quint64 request, const AlarmEventFilter& filter);

signals:
    void listed(quint64 request, const QVector<AlarmEventRecord>& events, const QString& error);
    void counted(quint64 request, qint64 count, const QString& error);

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};

Q_DECLARE_METATYPE(AlarmEventFilter)
