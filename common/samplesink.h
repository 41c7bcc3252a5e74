#pragma once

#include "samplerecord.h"

#include <QObject>

// Where a node hands the samples it records: the project's writer. A QObject, so that a node
// can hold it in a guarded pointer and let go of it when the writer is gone.
class SampleSink : public QObject
{
public:
    using QObject::QObject;
    virtual void queueSample(const SampleRecord& record) = 0;
};
