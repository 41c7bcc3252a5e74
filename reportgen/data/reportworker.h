#pragma once

#include <QString>
#include <QThread>

// What the report window hears from a statistics worker, whichever kind of report it makes.
class ReportWorker : public QThread
{
    Q_OBJECT

public:
    explicit ReportWorker(QObject* parent = nullptr) : QThread(parent) {}

signals:
    void done();
    void wholeCount(int);
    void createHashTables();
    void progPlus(int);
    void error(QString);
};
