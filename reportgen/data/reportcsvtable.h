#pragma once

#include "reportcsvcell.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One table of a report's CSV, as the page shows it: its title, its column headers and its rows
// (a row may hold fewer cells than there are headers; the rest are empty).
struct ReportCsvTable
{
    QString title;
    QStringList headers;
    QVector<QVector<ReportCsvCell>> rows;
};
