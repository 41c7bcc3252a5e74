#pragma once

#include "reportcommandline.h"

#include <QObject>
#include <QString>
#include <QStringList>

class ReportRun;
class ReportWebPage;

// Makes one report without a window, as the window would make it, and writes it as PDF or
// HTML, and its tables as CSV (ReportCsv). Never writes the project file (a recorder may have it
// open); reads the database read-only. The report is made in the program's event loop:
// finished() tells its end.
class ReportBatch : public QObject
{
    Q_OBJECT

public:
    explicit ReportBatch(const ReportCommandLine& line, QObject* parent = nullptr);

    // Checks the project and starts the report; false, with status() and errorText() set, when
    // it cannot be made.
    bool start();
    // 0 written, 1 not made, 2 bad arguments.
    int status() const { return exitStatus; }
    // On failure, the text for the user.
    QString errorText() const { return failure; }

signals:
    void finished();

private:
    void finish(int status, const QString& text);
    void made();
    void write();
    // The tables as CSV when asked for, then the end.
    void writeCsv();

    ReportCommandLine line;
    ReportRun* run = nullptr;
    ReportWebPage* webPage = nullptr;
    QStringList messages;
    int exitStatus = 1;
    QString failure;
};
