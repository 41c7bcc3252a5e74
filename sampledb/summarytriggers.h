#pragma once

#include <QString>
#include <QStringList>

// The text of the triggers that keep the summary and the change marks, of each version a
// recorder made them in. Files keep the text they were made with, and the summary's repair
// recognizes a version by it word for word: none of it may change.
class SummaryTriggers
{
public:
    // Idempotent, in the order of SampleTable::triggerNames(). The trigger that adds every row
    // inserted into the table to its bucket, for every program that writes (it needs the index
    // for its check of a second already taken); and those that mark a bucket as not to be taken
    // whole when one of its rows is deleted, changed or replaced (REPLACE deletes without the
    // delete trigger).
    static QStringList createTriggerStatements();
    // The triggers the first version of the summary was kept by, in the same order as the
    // first three of createTriggerStatements(): how files made then are recognized (and made
    // again in tests).
    static QStringList earlierTriggerStatements();
    // This version's triggers as first written, in the order of SampleTable::triggerNames(): the
    // same summary and change marks, at many times the cost of a row inserted by another
    // program.
    static QStringList slowerTriggerStatements();

    // Adds a part of a bucket (`excluded`: the row `values` give) to the bucket held, as the
    // triggers and the summary's filling both do. The first minimum and maximum in time stay:
    // the chart shows a step's extremes in the order they were measured. `taken` adds the check
    // whether the part repeats a second.
    static QString upsertStatement(const QString& values, const QString& taken);
    // The no-value marker older recorders wrote, as the triggers compare it.
    static const char* markerLiteral();
};
