#pragma once

#include "samplerecord.h"
#include "writejob.h"

// One write waiting for the database, in the order the writer takes them: a sample, or a job of
// another kind.
struct WriteEntry
{
    bool isJob = false;
    SampleRecord sample;
    WriteJob job;
    // The submitter's number of a job, for its answer; 0 for none (a sample, or a job replayed
    // from the spill journal after a restart).
    quint64 ticket = 0;

    static WriteEntry ofSample(const SampleRecord& record)
    {
        WriteEntry e;
        e.sample = record;
        return e;
    }
    static WriteEntry ofJob(const WriteJob& job, quint64 ticket)
    {
        WriteEntry e;
        e.isJob = true;
        e.job = job;
        e.ticket = ticket;
        return e;
    }
};
