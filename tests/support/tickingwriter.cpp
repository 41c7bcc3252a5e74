#include "tickingwriter.h"

#include "databasewriter.h"

#include <QDateTime>

TickingWriter::TickingWriter(const QString& database, const QString& connectionName)
    : m_writer(std::make_unique<DatabaseWriter>(database, connectionName))
{
    m_tick.setInterval(TickMs);
    DatabaseWriter* writer = m_writer.get();
    QObject::connect(&m_tick, &QTimer::timeout, writer,
                     [writer] { writer->flush(QDateTime::currentMSecsSinceEpoch()); });
}

TickingWriter::~TickingWriter()
{
    m_tick.stop();
}

bool TickingWriter::open()
{
    if (!m_writer->open())
        return false;
    m_tick.start();
    return true;
}

bool TickingWriter::settle()
{
    return m_writer->flushAndWait(QDateTime::currentMSecsSinceEpoch());
}
