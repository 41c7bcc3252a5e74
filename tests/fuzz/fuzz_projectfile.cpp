// Arbitrary bytes as a whole project file (INI text), through the key reader and on into the
// readers of the file's keys: project (device list, alarm rules), report devices, forwarding
// settings, and the reader's every form (text, bytes, items) of each key, as the notification
// settings read them. The reader must find each key on the line QSettings reads it from.
#include "forwardingsettings.h"
#include "projectfile.h"
#include "projectkeyreader.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// Text QSettings reads exactly as written, byte for byte.
bool isPlain(const QByteArray& bytes)
{
    if (bytes.startsWith('@'))
        return false;
    for (const char c : bytes) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7e || c == '\\' || c == '"')
            return false;
    }
    return true;
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    static int count = 0;
    // A new name each time: QSettings keeps what it read of a file by name, size and time.
    const QString path = dir.filePath(QString::number(++count) + QStringLiteral(".tpc"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }

    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    const QHash<QString, ProjectKeyReader::Line> lines = ProjectKeyReader::scanTopLevel(text);
    {
        const QSettings settings(path, QSettings::IniFormat);
        for (const QString& key : settings.childKeys()) {
            if (key.isEmpty() || key.contains(QLatin1Char('/')))
                continue;
            const auto line = lines.constFind(key);
            check(line != lines.constEnd());
            if (!line->literal && isPlain(line->written))
                check(settings.value(key).toString() == QString::fromLatin1(line->written));
        }
        const QStringList keys = settings.childKeys();
        for (auto i = lines.constBegin(); i != lines.constEnd(); ++i) {
            if (!i.key().isEmpty() && !i.key().contains(QLatin1Char('/')))
                check(keys.contains(i.key()));
        }
    }

    const ProjectKeyReader reader(path);
    for (auto i = lines.constBegin(); i != lines.constEnd(); ++i) {
        reader.text(i.key());
        reader.bytes(i.key());
        reader.items(i.key());
    }
    const ProjectFile project(path);
    ProjectData loaded;
    project.load(&loaded);
    QList<ReportDeviceRecord> devices;
    project.loadReportDevices(&devices);
    ForwardingSettings::load(path);
    QFile::remove(path);
    return 0;
}
