#pragma once

#include <QString>
#include <QTimer>

#include <memory>

class DatabaseWriter;

// The project's one database writer, driven as the recorder drives it but with a quicker timer:
// what a test hands it reaches the file within a few tens of milliseconds, without waiting for
// the recorder's flush policy.
class TickingWriter
{
public:
    static constexpr int TickMs = 50;

    TickingWriter(const QString& database, const QString& connectionName);
    // The timer stops first; the writer then ends as at the end of the program.
    ~TickingWriter();

    // Opens the writer and starts the timer; false when the writer cannot use the file.
    bool open();
    DatabaseWriter* writer() const { return m_writer.get(); }
    // Every write handed to the writer is in the file now (false: it is not, the file is locked).
    bool settle();

private:
    std::unique_ptr<DatabaseWriter> m_writer;
    QTimer m_tick;
};
