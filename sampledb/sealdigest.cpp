#include "sealdigest.h"

#include "sha256.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>

namespace {

const char HexDigits[] = "0123456789abcdef";

// Decimal digits without a QByteArray of their own: a verification formats hundreds of millions.
void appendDecimal(QByteArray* out, qint64 value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* at = end;
    quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    do {
        *--at = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--at = '-';
    out->append(at, int(end - at));
}

void appendHex(QByteArray* out, const unsigned char* bytes, int size)
{
    const int start = out->size();
    out->resize(start + 2 * size);
    char* to = out->data() + start;
    for (int i = 0; i < size; ++i) {
        *to++ = HexDigits[bytes[i] >> 4];
        *to++ = HexDigits[bytes[i] & 0xf];
    }
}

} // namespace

SealDigest::SealDigest()
{
    // Reserved, the buffers keep their room when emptied for the next row.
    line.reserve(160);
    serial.reserve(48);
}

SealDigest::~SealDigest() = default;
SealDigest::SealDigest(SealDigest&&) noexcept = default;
SealDigest& SealDigest::operator=(SealDigest&&) noexcept = default;

void SealDigest::appendValue(QByteArray* out, sqlite3_stmt* row, int column)
{
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER:
        out->append('i');
        appendDecimal(out, sqlite3_column_int64(row, column));
        break;
    case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(row, column);
        quint64 bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        out->append('r');
        appendHex(out, bytes, 8);
        break;
    }
    case SQLITE_TEXT:
        out->append('t');
        appendHex(out, sqlite3_column_text(row, column), sqlite3_column_bytes(row, column));
        break;
    case SQLITE_BLOB:
        out->append('b');
        appendHex(out, static_cast<const unsigned char*>(sqlite3_column_blob(row, column)),
                  sqlite3_column_bytes(row, column));
        break;
    default:
        out->append('n');
        break;
    }
}

bool SealDigest::quarterOf(sqlite3_stmt* row, int column, qint64* quarter)
{
    constexpr qint64 Seconds = 900;
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER: {
        const qint64 time = sqlite3_column_int64(row, column);
        *quarter = time >= 0 ? time / Seconds : -((-time + Seconds - 1) / Seconds);
        return true;
    }
    case SQLITE_FLOAT: {
        const double q = std::floor(sqlite3_column_double(row, column) / Seconds);
        if (!std::isfinite(q) || std::fabs(q) > 1e15)
            return false;
        *quarter = static_cast<qint64>(q);
        return true;
    }
    default:
        return false;
    }
}

void SealDigest::addRow(sqlite3_stmt* row, int first)
{
    serial.resize(0);
    appendValue(&serial, row, first + 1);
    if (!lastNode || serial != *lastSerial) {
        auto found = nodes.find(serial);
        if (found == nodes.end()) {
            // A copy of its own: the buffer is reused for the next row.
            found = nodes.emplace(QByteArray(serial.constData(), serial.size()), Node()).first;
            found->second.hash = std::make_unique<Sha256>();
        }
        lastNode = &found->second;
        lastSerial = &found->first;
    }
    line.resize(0);
    appendValue(&line, row, first);
    line.append(' ');
    line.append(serial);
    for (int column = first + 2; column < first + 5; ++column) {
        line.append(' ');
        appendValue(&line, row, column);
    }
    line.append('\n');
    lastNode->hash->add(line);
    ++lastNode->rows;
    ++rowCount;
}

QByteArray SealDigest::result()
{
    Sha256 quarter;
    for (auto& [key, node] : nodes) {
        QByteArray text = key;
        text.append(' ');
        text.append(QByteArray::number(node.rows));
        text.append(' ');
        text.append(node.hash->result().toHex());
        text.append('\n');
        quarter.add(text);
    }
    nodes.clear();
    lastNode = nullptr;
    lastSerial = nullptr;
    rowCount = 0;
    return quarter.result().toHex();
}
