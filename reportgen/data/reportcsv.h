#pragma once

#include "reportcsvtable.h"
#include "reportrun.h"
#include "reporttables.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Every table a report's page shows, in the page's order and with its figures, as CSV for a
// spreadsheet: UTF-8 without a byte order mark, comma separated, lines ended by CR LF as the
// audit trail's CSV (AuditCsv). The first line names the report, its period and the time zone of
// its local times; then each table: a line with its title, its header row, its rows, and an
// empty line after it. A header of a time column names the zone. Texts from the project file
// and from users are quoted after RFC 4180 and never run as formulas.
class ReportCsv
{
public:
    // The tables of one run: the report's header, its channels, (HACCP) the critical limits,
    // the hourly or daily figures, (HACCP) excursions, data gaps and alarm events with their
    // corrective actions and signatures, the shelves and out-of-service times when any, and the
    // audit trail's head.
    static QList<ReportCsvTable> tables(const ReportRun::Settings& settings,
                                        const ReportTables& tables);
    // The whole file.
    static QByteArray document(const ReportRun::Settings& settings, const ReportTables& tables);
    // Writes the file whole or not at all (a file left from before stays); false with the text
    // for the user.
    static bool write(const QString& fileName, const ReportRun::Settings& settings,
                      const ReportTables& tables, QString* errorText);
    // The system's time zone as the file names it ("Europe/Berlin").
    static QString zoneName();
};
