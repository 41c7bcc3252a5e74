#pragma once

#include "viewercommandline.h"

class QTextStream;

// The alarm events' export without a window:
// Trendscope --export-events FILE --from ... --to ... PROJECT.tpc
class EventExportCommand
{
public:
    // 0 on success; otherwise a message on errors and a non-zero code.
    static int run(const ViewerCommandLine::Options& options, QTextStream* errors);
};
