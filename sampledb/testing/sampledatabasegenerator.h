#pragma once

#include <QList>
#include <QString>

// Writes a project file and a sample database beside it, filled with made-up but plausible
// samples: one row per node and interval, as the recorder stores them, with optional faults a
// reader has to cope with (missing samples, rows without values, one-sample spikes, periods out
// of the alarm range). The same options and seed always give the same file contents, so tests
// and benchmarks can compare against rows they know.
class SampleDatabaseGenerator
{
public:
    static constexpr int MaxNodes = 16;

    struct Options
    {
        QString projectPath;    // the .tpc; the database goes beside it as <name>.dat
        qint64 seconds = 86400; // length of the recorded period
        qint64 end = 0;         // Unix seconds of the last sample; 0: now, rounded to the interval
        int nodes = MaxNodes;   // 1 to MaxNodes, eight to a gateway
        int interval = 1;       // seconds between samples
        quint64 seed = 1;
        int gaps = 0;       // periods in which one node wrote nothing
        int nullRows = 0;   // rows whose channels are both NULL
        int spikes = 0;     // single samples far outside the usual values
        int excursions = 0; // periods of channel 1 above its alarm range
        bool index = false; // the range index and the summary, as the recorder makes files
        bool wal = true;    // leave the file in WAL mode, as the recorder does
    };

    // Something placed on purpose, for a reader to find again.
    struct Event
    {
        QString kind; // "gap", "null", "spike", "excursion"
        QString serial;
        int channel = 0; // 1 or 2; 0 for both
        qint64 from = 0;
        qint64 to = 0; // inclusive; equal to from for a single sample
        double value = 0;
    };

    struct Result
    {
        bool ok = false;
        QString error;
        QString databasePath;
        qint64 rows = 0;
        qint64 first = 0;
        qint64 last = 0;
        QList<Event> events;
    };

    static QString serialOf(int node);
    // The value a node's channel has at a time before any fault is applied: two decimals, as
    // the recorder stores what its gateways deliver.
    static double baseValue(int node, int channel, qint64 time, quint64 seed);

    // An unbroken recording of MaxNodes nodes at 1 s for `days` days from `first` (Unix
    // seconds), without faults, index, summary or WAL: the file an earlier recorder left, which
    // the benchmarks time before and after the recorder's additions.
    static Options unbrokenRecording(const QString& projectPath, qint64 first, int days);

    static Result generate(const Options& options);
};
