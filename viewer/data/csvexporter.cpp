#include "csvexporter.h"

#include "localtimetext.h"
#include "rowsource.h"

#include <QIODevice>

#include <charconv>
#include <limits>
#include <vector>

namespace {

constexpr int FlushBytes = 1 << 20;

struct NodeRow
{
    qint64 time;
    double value[2];
    bool present[2];
};

} // namespace

CsvExporter::CsvExporter(ViewerSampleReader* store, const SummaryCache* cache)
    : m_store(store), m_cache(cache)
{
}

QByteArray CsvExporter::field(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') ||
        bytes.contains('\n')) {
        bytes.replace('"', "\"\"");
        bytes.prepend('"');
        bytes.append('"');
    }
    return bytes;
}

void CsvExporter::appendNumber(double value, QByteArray* out)
{
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    out->append(text, int(r.ptr - text));
}

bool CsvExporter::write(const QVector<Column>& columns, qint64 from, qint64 to, QIODevice* out,
                        const Progress& progress)
{
    m_error.clear();
    m_rows = 0;
    // Each node is read once per slice, for all of its chosen channels.
    QVector<QByteArray> nodes;
    QVector<int> nodeOf;
    for (const Column& c : columns) {
        int n = nodes.indexOf(c.serial);
        if (n < 0) {
            n = nodes.size();
            nodes << c.serial;
        }
        nodeOf << n;
    }

    QByteArray buffer = "Local time,Unix time";
    for (const Column& c : columns)
        buffer += ',' + field(c.label);
    buffer += "\r\n";

    RowSource source(m_store, m_cache);
    source.refresh();
    LocalTimeText clock;
    std::vector<std::vector<NodeRow>> rows(size_t(nodes.size()));
    std::vector<size_t> next(size_t(nodes.size()));
    std::vector<size_t> last(size_t(nodes.size()));
    for (qint64 start = from; start <= to; start += m_slice) {
        const qint64 end = qMin(to, start + m_slice - 1);
        for (int n = 0; n < nodes.size(); ++n) {
            std::vector<NodeRow>& list = rows[size_t(n)];
            list.clear();
            next[size_t(n)] = 0;
            const bool ok = source.rows(
                nodes[n], start, end, std::numeric_limits<qint64>::max(), [&](const StoredRow& r) {
                    list.push_back(
                        {r.time, {r.value[0], r.value[1]}, {r.present[0], r.present[1]}});
                    return true;
                });
            if (!ok) {
                m_error = QStringLiteral("The samples of %1 could not be read.")
                              .arg(QString::fromUtf8(nodes[n]));
                return false;
            }
        }
        // Merge the nodes' rows by time; the reader gives a node one row per second, the later
        // of two written in one.
        while (true) {
            qint64 time = std::numeric_limits<qint64>::max();
            for (size_t n = 0; n < rows.size(); ++n)
                if (next[n] < rows[n].size())
                    time = qMin(time, rows[n][next[n]].time);
            if (time == std::numeric_limits<qint64>::max())
                break;
            clock.append(time, &buffer);
            char number[24];
            const std::to_chars_result r = std::to_chars(number, number + sizeof number, time);
            buffer += ',';
            buffer.append(number, int(r.ptr - number));
            for (size_t n = 0; n < rows.size(); ++n) {
                last[n] = next[n];
                while (last[n] < rows[n].size() && rows[n][last[n]].time == time)
                    ++last[n];
            }
            for (int c = 0; c < columns.size(); ++c) {
                buffer += ',';
                const size_t n = size_t(nodeOf[c]);
                const int ch = columns[c].channel - 1;
                for (size_t i = next[n]; i < last[n]; ++i) {
                    if (rows[n][i].present[ch]) {
                        appendNumber(rows[n][i].value[ch], &buffer);
                        break;
                    }
                }
            }
            for (size_t n = 0; n < rows.size(); ++n)
                next[n] = last[n];
            buffer += "\r\n";
            ++m_rows;
            if (buffer.size() >= FlushBytes) {
                if (out->write(buffer) != buffer.size()) {
                    m_error = out->errorString();
                    return false;
                }
                buffer.clear();
            }
        }
        if (progress && !progress(double(end - from + 1) / double(to - from + 1))) {
            m_error = QStringLiteral("Export cancelled.");
            return false;
        }
    }
    if (out->write(buffer) != buffer.size()) {
        m_error = out->errorString();
        return false;
    }
    return true;
}
