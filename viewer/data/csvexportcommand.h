#pragma once

#include "viewercommandline.h"

class QTextStream;

// The CSV export without a window: Trendscope --export-csv FILE --from ... --to ... PROJECT.tpc
class CsvExportCommand
{
public:
    // 0 on success; otherwise a message on errors and a non-zero code.
    static int run(const ViewerCommandLine::Options& options, QTextStream* errors);
};
