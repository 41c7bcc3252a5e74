#pragma once

#include <QString>

// The sample database a recorder leaves after recording a project of 16 nodes at a 1-second
// interval without a break, made directly with SQLite's own interface in seconds.
class SampleDatabase
{
public:
    static constexpr int Nodes = 16;

    // Serial number of node `node` (0 to 15): five characters, "N1000" to "N1015".
    static QString serial(int node);

    // Writes a new file at `path` (replacing one there) holding the recorder's table without
    // its index, one row per node and second from `first` (seconds since 1970) on, for `days`
    // days, in one transaction. Channel values are two-decimal numbers that change slowly.
    static bool generate(const QString& path, qint64 first, int days);
};
