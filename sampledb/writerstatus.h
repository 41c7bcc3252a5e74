#pragma once

#include <QMetaType>
#include <QtGlobal>

// What the DatabaseWriter's thread reports after every change, for its front to show.
struct WriterStatus
{
    // Samples the thread has taken from the front so far: those still on their way are the
    // front's count minus this.
    qint64 receivedSamples = 0;
    // Samples not in the database yet: in memory and in the spill journal.
    qint64 waitingSamples = 0;
    // Of those, in the spill journal (safe on the disk).
    qint64 journalSamples = 0;
    qint64 waitingJobs = 0;
    // Samples dropped at the memory queue's bound since a write last reached the file (only
    // when the journal cannot be written either).
    qint64 droppedSamples = 0;
    // A write failed and none has succeeded since.
    bool failing = false;
    // The journal could not be written (a full disk): what waits is in memory only.
    bool journalFailing = false;
};

Q_DECLARE_METATYPE(WriterStatus)
