#include "spilljournal.h"

#include "insertserialdata.h"
#include "sampletable.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <QtEndian>

#include <sqlite3.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Magic[8] = {'Q', 'M', 'S', 'P', 'I', 'L', 'L', '\0'};
constexpr int RecordHead = 8;
constexpr int RecordTail = 4;
constexpr quint8 EntriesRecord = 1;
constexpr quint8 SampleEntry = 1;
constexpr quint8 JobEntry = 2;
// Larger than any record this program writes (4096 entries): a length beyond it is damage.
constexpr quint32 MaxPayload = 64u << 20;

quint32 checksum(const char* data, size_t size)
{
    return quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data), uInt(size)));
}

template <typename T> void put(QByteArray* out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out->append(bytes, int(sizeof(T)));
}

void putDouble(QByteArray* out, double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put(out, bits);
}

// Reads little-endian values from a payload, refusing to run past its end.
class Cursor
{
public:
    Cursor(const char* data, size_t size) : p(data), end(data + size) {}
    template <typename T> bool get(T* value)
    {
        if (size_t(end - p) < sizeof(T))
            return false;
        *value = qFromLittleEndian<T>(p);
        p += sizeof(T);
        return true;
    }
    bool getDouble(double* value)
    {
        quint64 bits = 0;
        if (!get(&bits))
            return false;
        std::memcpy(value, &bits, sizeof bits);
        return true;
    }
    bool bytes(size_t size, QByteArray* out)
    {
        if (size_t(end - p) < size)
            return false;
        *out = QByteArray(p, int(size));
        p += size;
        return true;
    }
    bool atEnd() const { return p == end; }

private:
    const char* p;
    const char* end;
};

// A record's entries stop once it holds this much, so that a few large jobs (a report's PDF,
// up to 25 MiB each) never make a record longer than a reader takes.
constexpr int RecordBudget = 16 << 20;

// Up to `count` entries from `first`, fewer when the budget is reached (at least one);
// `taken` gets how many.
QByteArray record(const std::deque<WriteEntry>& entries, size_t first, size_t count,
                  size_t* taken)
{
    QByteArray payload;
    put(&payload, quint32(count));
    size_t i = first;
    for (; i < first + count && (i == first || payload.size() < RecordBudget); ++i) {
        const WriteEntry& e = entries[i];
        if (e.isJob) {
            payload.append(char(JobEntry));
            put(&payload, quint16(e.job.kind));
            put(&payload, quint64(e.ticket));
            const QByteArray values = e.job.encodedValues();
            put(&payload, quint32(values.size()));
            payload.append(values);
        } else {
            payload.append(char(SampleEntry));
            const QByteArray serial = e.sample.deviceNumber.toUtf8();
            put(&payload, quint16(serial.size()));
            payload.append(serial);
            putDouble(&payload, e.sample.channel1);
            putDouble(&payload, e.sample.channel2);
            put(&payload, quint32(e.sample.pointDate));
        }
    }
    *taken = i - first;
    qToLittleEndian(quint32(*taken), payload.data());
    QByteArray bytes;
    put(&bytes, quint32(payload.size()));
    bytes.append(char(EntriesRecord));
    bytes.append(3, '\0');
    bytes.append(payload);
    put(&bytes, checksum(bytes.constData(), size_t(bytes.size())));
    return bytes;
}

bool parseEntries(const QByteArray& payload, std::vector<WriteEntry>* entries)
{
    Cursor c(payload.constData(), size_t(payload.size()));
    quint32 count = 0;
    if (!c.get(&count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        quint8 type = 0;
        if (!c.get(&type))
            return false;
        WriteEntry e;
        if (type == SampleEntry) {
            quint16 length = 0;
            QByteArray serial;
            quint32 time = 0;
            if (!c.get(&length) || !c.bytes(length, &serial) || !c.getDouble(&e.sample.channel1) ||
                !c.getDouble(&e.sample.channel2) || !c.get(&time))
                return false;
            e.sample.deviceNumber = QString::fromUtf8(serial);
            e.sample.pointDate = time;
        } else if (type == JobEntry) {
            quint16 kind = 0;
            quint64 ticket = 0;
            quint32 length = 0;
            QByteArray values;
            if (!c.get(&kind) || !c.get(&ticket) || !c.get(&length) || !c.bytes(length, &values) ||
                !WriteJob::decodeValues(values, &e.job.values))
                return false;
            e.ticket = ticket;
            e.isJob = true;
            e.job.kind = WriteJob::Kind(kind);
        } else {
            return false;
        }
        entries->push_back(std::move(e));
    }
    return c.atEnd();
}

QString systemError(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") +
           QString::fromLocal8Bit(strerror(errno));
}

// The folder's entry of a new or removed file reaches the disk too.
void syncFolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, const QByteArray& bytes, qint64 offset)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done),
                                   off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Sets (in the writer's transaction) how far the journal was replayed, and forgets the
// positions of journals that are gone.
bool setPosition(sqlite3* db, const QString& name, qint64 position, QString* error)
{
    const QByteArray create = SampleTable::createStateStatement().toUtf8();
    const QByteArray sql = QByteArray("insert into ") + SampleTable::stateName().toUtf8() +
                           " (name, value) values (?1, ?2) on conflict (name) do update set value "
                           "= excluded.value";
    const QByteArray stale = QByteArray("delete from ") + SampleTable::stateName().toUtf8() +
                             " where name like 'journal %' and name <> ?1";
    bool ok = sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    const QByteArray utf8 = name.toUtf8();
    for (const QByteArray* statement : {&sql, &stale}) {
        if (!ok)
            break;
        SqliteStatement s(db, *statement);
        ok = s.isValid();
        if (ok) {
            sqlite3_bind_text(s.get(), 1, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
            if (statement == &sql)
                sqlite3_bind_int64(s.get(), 2, position);
            ok = sqlite3_step(s.get()) == SQLITE_DONE;
        }
    }
    if (!ok)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    return ok;
}

} // namespace

QString SpillJournal::pathFor(const QString& databasePath)
{
    return databasePath + QStringLiteral("-pending");
}

SpillJournal::SpillJournal(const QString& path) : filePath(path) {}

QString SpillJournal::positionName() const
{
    return QStringLiteral("journal ") + QString::fromLatin1(identity.toHex());
}

bool SpillJournal::load(QString* error)
{
    identity.clear();
    validEnd = 0;
    damaged = false;
    usable = true;
    QFile file(filePath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        usable = false;
        *error = file.errorString();
        return false;
    }
    const QByteArray header = file.read(HeaderSize);
    file.close();
    if (header.size() < HeaderSize) {
        // The program died while making the file: there was nothing in it yet.
        QFile::remove(filePath);
        return true;
    }
    const bool known =
        header.size() == HeaderSize && std::memcmp(header.constData(), Magic, 8) == 0 &&
        qFromLittleEndian<quint32>(header.constData() + 28) == checksum(header.constData(), 28);
    if (!known || qFromLittleEndian<quint16>(header.constData() + 8) != Version ||
        qFromLittleEndian<quint16>(header.constData() + 10) != HeaderSize) {
        usable = false;
        *error = QStringLiteral("not a journal this program reads: ") + filePath;
        return false;
    }
    identity = header.mid(12, 16);
    Scan result;
    if (!scan(&result, error)) {
        usable = false;
        return false;
    }
    validEnd = result.end;
    if (result.damaged) {
        // A person may make something of the rest: it is kept in a copy, and the journal goes
        // on from its last whole record.
        const QString aside =
            filePath + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        QFile::copy(filePath, aside);
        qWarning().noquote() << QStringLiteral("SpillJournal::load : damaged record at ") +
                                    QString::number(validEnd) + QStringLiteral(", kept in ") +
                                    aside;
        damaged = true;
    }
    if (result.torn || result.damaged) {
        if (::truncate(QFile::encodeName(filePath).constData(), off_t(validEnd)) != 0) {
            usable = false;
            *error = systemError("truncate");
            return false;
        }
        if (result.torn)
            qWarning().noquote() << QStringLiteral("SpillJournal::load : torn last record "
                                                   "ignored at ") +
                                        QString::number(validEnd);
    }
    return true;
}

bool SpillJournal::scan(Scan* result, QString* error) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    qint64 at = HeaderSize;
    file.seek(at);
    while (at < size) {
        if (size - at < RecordHead + RecordTail) {
            result->torn = true;
            break;
        }
        const QByteArray head = file.read(RecordHead);
        const quint32 length = qFromLittleEndian<quint32>(head.constData());
        if (length > MaxPayload || head.at(4) != char(EntriesRecord)) {
            // A length beyond the file is a record cut short; nonsense before the end is damage.
            result->damaged = true;
            break;
        }
        const qint64 whole = RecordHead + qint64(length) + RecordTail;
        if (at + whole > size) {
            result->torn = true;
            break;
        }
        const QByteArray rest = file.read(qint64(length) + RecordTail);
        const QByteArray bytes = head + rest.left(int(length));
        if (qFromLittleEndian<quint32>(rest.constData() + length) !=
            checksum(bytes.constData(), size_t(bytes.size()))) {
            // The last record may have been half written when the disk lost power.
            (at + whole == size ? result->torn : result->damaged) = true;
            break;
        }
        at += whole;
    }
    result->end = at;
    return true;
}

bool SpillJournal::create(QString* error)
{
    const int fd = ::open(QFile::encodeName(filePath).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError("create");
        return false;
    }
    const QUuid uuid = QUuid::createUuid();
    QByteArray header(Magic, 8);
    put(&header, Version);
    put(&header, quint16(HeaderSize));
    header.append(uuid.toRfc4122());
    put(&header, checksum(header.constData(), size_t(header.size())));
    const bool ok = writeAll(fd, header, 0) && ::fsync(fd) == 0;
    if (!ok)
        *error = systemError("write");
    ::close(fd);
    if (!ok) {
        QFile::remove(filePath);
        return false;
    }
    syncFolder(filePath);
    identity = uuid.toRfc4122();
    validEnd = HeaderSize;
    damaged = false;
    return true;
}

bool SpillJournal::append(const std::deque<WriteEntry>& entries, size_t count, QString* error)
{
    if (!usable) {
        *error = QStringLiteral("journal not usable: ") + filePath;
        return false;
    }
    if (count == 0)
        return true;
    if (validEnd < HeaderSize && !create(error))
        return false;
    QByteArray bytes;
    for (size_t first = 0, taken = 0; first < count; first += taken)
        bytes.append(record(entries, first, std::min(RecordEntries, count - first), &taken));
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError("open");
        return false;
    }
    const bool ok = writeAll(fd, bytes, validEnd) && ::fsync(fd) == 0;
    if (!ok) {
        *error = systemError("append");
        // Nothing half written stays behind the last whole record.
        if (::ftruncate(fd, off_t(validEnd)) == 0)
            ::fsync(fd);
    } else {
        validEnd += bytes.size();
    }
    ::close(fd);
    return ok;
}

bool SpillJournal::read(qint64 position, size_t maxEntries, std::vector<WriteEntry>* entries,
                        qint64* end, QString* error) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(position)) {
        *error = file.errorString();
        return false;
    }
    qint64 at = position;
    while (at < validEnd && entries->size() < maxEntries) {
        const QByteArray head = file.read(RecordHead);
        const quint32 length =
            head.size() == RecordHead ? qFromLittleEndian<quint32>(head.constData()) : 0;
        const QByteArray payload = file.read(qint64(length));
        file.read(RecordTail);
        // The records were checked when the file was loaded or written.
        if (head.size() != RecordHead || payload.size() != int(length) ||
            !parseEntries(payload, entries)) {
            *error = QStringLiteral("unreadable record at ") + QString::number(at);
            return false;
        }
        at += RecordHead + qint64(length) + RecordTail;
    }
    *end = at;
    return true;
}

void SpillJournal::count(qint64 position, qint64* samples, qint64* jobs) const
{
    *samples = 0;
    *jobs = 0;
    std::vector<WriteEntry> entries;
    qint64 end = 0;
    QString error;
    for (qint64 at = std::max<qint64>(position, HeaderSize); at < validEnd; at = end) {
        entries.clear();
        if (!read(at, 1, &entries, &end, &error))
            return;
        for (const WriteEntry& e : entries)
            ++*(e.isJob ? jobs : samples);
    }
}

qint64 SpillJournal::replayedPosition(InsertSerialData* writer) const
{
    qint64 position = 0;
    return writer->stateValue(positionName(), &position) ? position : 0;
}

bool SpillJournal::replayInto(InsertSerialData* writer, size_t maxEntries, Replayed* replayed,
                              QString* error)
{
    if (!usable || !hasRecords())
        return true;
    qint64 position = std::max<qint64>(replayedPosition(writer), HeaderSize);
    size_t done = 0;
    while (position < validEnd && done < maxEntries) {
        std::vector<WriteEntry> entries;
        qint64 end = 0;
        if (!read(position, std::min(RecordEntries, maxEntries - done), &entries, &end, error))
            return false;
        std::vector<const WriteEntry*> batch;
        batch.reserve(entries.size());
        for (const WriteEntry& e : entries)
            batch.push_back(&e);
        const QString name = positionName();
        std::vector<qint64> rowIds;
        if (!writer->store(
                batch,
                [&name, end](sqlite3* db, QString* reason) {
                    return setPosition(db, name, end, reason);
                },
                &rowIds, error))
            return false;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].isJob) {
                ++replayed->samples;
                continue;
            }
            ++replayed->jobs;
            if (entries[i].ticket != 0)
                replayed->tickets.emplace_back(entries[i].ticket, rowIds[i]);
        }
        position = end;
        done += entries.size();
    }
    return position < validEnd || finish(error);
}

bool SpillJournal::finish(QString* error)
{
    if (::unlink(QFile::encodeName(filePath).constData()) != 0 && errno != ENOENT) {
        *error = systemError("remove");
        return false;
    }
    syncFolder(filePath);
    identity.clear();
    validEnd = 0;
    damaged = false;
    return true;
}

bool SpillJournal::discard(QString* error)
{
    if (!usable || validEnd == 0)
        return true;
    return finish(error);
}
