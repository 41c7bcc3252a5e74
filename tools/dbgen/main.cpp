// dbgen: writes a project file and a sample database of made-up samples beside it, for tests,
// benchmarks and demonstrations of large recordings.
//   usage: quillmar_dbgen --project FILE.tpc [--days N] [--hours N] [--nodes N] [--interval S]
//          [--seed N] [--end "yyyy-MM-dd hh:mm:ss"] [--gaps N] [--null-rows N] [--spikes N]
//          [--excursions N] [--index] [--no-wal]
// Prints the database path, the row count and one line per placed fault.

#include "sampledatabasegenerator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: quillmar_dbgen --project FILE.tpc [--days N] [--hours N] [--nodes N] "
                 "[--interval S] [--seed N] [--end \"yyyy-MM-dd hh:mm:ss\"] [--gaps N] "
                 "[--null-rows N] [--spikes N] [--excursions N] [--index] [--no-wal]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SampleDatabaseGenerator::Options options;
    const QStringList args = app.arguments().mid(1);
    bool ok = true;
    for (int i = 0; i < args.size() && ok; ++i) {
        const QString& arg = args.at(i);
        auto value = [&]() { return i + 1 < args.size() ? args.at(++i) : QString(); };
        auto number = [&]() {
            bool valid = false;
            const double v = value().toDouble(&valid);
            ok = ok && valid && v >= 0;
            return v;
        };
        if (arg == QLatin1String("--project"))
            options.projectPath = value();
        else if (arg == QLatin1String("--days"))
            options.seconds = qint64(number() * 86400);
        else if (arg == QLatin1String("--hours"))
            options.seconds = qint64(number() * 3600);
        else if (arg == QLatin1String("--nodes"))
            options.nodes = int(number());
        else if (arg == QLatin1String("--interval"))
            options.interval = int(number());
        else if (arg == QLatin1String("--seed"))
            options.seed = quint64(number());
        else if (arg == QLatin1String("--gaps"))
            options.gaps = int(number());
        else if (arg == QLatin1String("--null-rows"))
            options.nullRows = int(number());
        else if (arg == QLatin1String("--spikes"))
            options.spikes = int(number());
        else if (arg == QLatin1String("--excursions"))
            options.excursions = int(number());
        else if (arg == QLatin1String("--index"))
            options.index = true;
        else if (arg == QLatin1String("--no-wal"))
            options.wal = false;
        else if (arg == QLatin1String("--end")) {
            const QDateTime end =
                QDateTime::fromString(value(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            ok = end.isValid();
            options.end = end.toSecsSinceEpoch();
        } else
            ok = false;
    }
    if (!ok || options.projectPath.isEmpty() || options.nodes < 1 || options.nodes > 16 ||
        options.interval < 1)
        return usage();

    QElapsedTimer timer;
    timer.start();
    const SampleDatabaseGenerator::Result result = SampleDatabaseGenerator::generate(options);
    if (!result.ok) {
        std::fprintf(stderr, "dbgen: %s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("database %s\nrows %lld from %lld to %lld in %.1f s\n",
                qPrintable(result.databasePath), result.rows, result.first, result.last,
                timer.elapsed() / 1000.0);
    for (const SampleDatabaseGenerator::Event& e : result.events)
        std::printf("%s %s %d %lld %lld %.2f\n", qPrintable(e.kind), qPrintable(e.serial),
                    e.channel, e.from, e.to, e.value);
    return 0;
}
