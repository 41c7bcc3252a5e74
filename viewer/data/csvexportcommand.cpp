#include "csvexportcommand.h"

#include "channelcatalog.h"
#include "csvexporter.h"
#include "projectfile.h"
#include "summarybuilder.h"
#include "summarycache.h"
#include "viewersamplereader.h"

#include <QEventLoop>
#include <QSaveFile>
#include <QTextStream>

#include <memory>

int CsvExportCommand::run(const ViewerCommandLine::Options& options, QTextStream* errors)
{
    const QString databasePath = ProjectFile::databasePath(options.projectPath);
    ViewerSampleReader store;
    if (!store.open(databasePath, ViewerSampleReader::ViewerBusyTimeoutMs)) {
        *errors << store.errorText() << '\n';
        return 1;
    }
    ChannelCatalog catalog;
    catalog.setProject(options.devices);
    const int interval =
        qMax(1, ProjectFile(options.projectPath).intValue(QStringLiteral("DataInterval")) / 1000);
    auto cache = std::make_shared<SummaryCache>(catalog.summarySettings(interval));

    const bool hasTable = store.hasTable();
    if (hasTable && !store.hasIndex()) {
        // Without the range index the rows of a period are found through the summary.
        SummaryBuilder builder(databasePath, cache);
        QEventLoop loop;
        bool ok = true;
        bool done = false;
        QString message;
        QObject::connect(&builder, &SummaryBuilder::complete, &loop, [&]() {
            done = true;
            loop.quit();
        });
        QObject::connect(&builder, &SummaryBuilder::failed, &loop, [&](const QString& m) {
            ok = false;
            message = m;
            loop.quit();
        });
        QObject::connect(&builder, &SummaryBuilder::replaced, &loop, [&]() {
            ok = false;
            message = QStringLiteral("The database file was replaced while it was read.");
            loop.quit();
        });
        builder.start();
        if (!done && ok)
            loop.exec();
        builder.stop();
        if (!ok) {
            *errors << message << '\n';
            return 1;
        }
    }
    QList<QByteArray> serials;
    if (hasTable && store.hasIndex())
        store.serials(&serials);
    else
        cache->read([&](const SampleSummary& s) { serials = s.serials(); });
    catalog.addSerials(serials);

    QVector<CsvExporter::Column> columns;
    if (options.channelKeys.isEmpty()) {
        for (const ChannelCatalog::Channel& c : catalog.channels())
            columns << CsvExporter::Column{c.serial, c.channel, ChannelCatalog::label(c)};
    }
    for (const QString& key : options.channelKeys) {
        const int index = catalog.find(key.trimmed());
        if (index < 0) {
            *errors << "Unknown channel \"" << key << "\"; channels are named SERIAL_channel1 or "
                    << "SERIAL_channel2.\n";
            return 2;
        }
        const ChannelCatalog::Channel& c = catalog.channels().at(index);
        columns << CsvExporter::Column{c.serial, c.channel, ChannelCatalog::label(c)};
    }

    QSaveFile file(options.exportFile);
    if (!file.open(QIODevice::WriteOnly)) {
        *errors << "Cannot write " << options.exportFile << ": " << file.errorString() << '\n';
        return 1;
    }
    CsvExporter exporter(&store, cache.get());
    exporter.setSliceSeconds(3600 * qint64(interval));
    // A file without the table (nothing recorded yet) gives the header alone.
    const bool written = hasTable ? exporter.write(columns, options.from, options.to, &file)
                                  : exporter.write(columns, 1, 0, &file);
    if (!written) {
        file.cancelWriting();
        *errors << exporter.error() << '\n';
        return 1;
    }
    if (!file.commit()) {
        *errors << "Cannot write " << options.exportFile << ": " << file.errorString() << '\n';
        return 1;
    }
    return 0;
}
