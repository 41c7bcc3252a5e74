// demoproject: writes a recorder project whose gateways are the simulator's demo gateways
// (DemoGateway). With --config-home it
// also writes recorder settings there that open the project at start (and record, with
// --auto-record), so that a demo or a soak run never touches the user's own settings. With
// --forward-mqtt HOST:PORT the project forwards to that broker under the topic prefix
// "quillmar-demo"; without it the project's forwarding is off.

#include "datainterval.h"
#include "demogateway.h"
#include "forwardingsettings.h"
#include "projectfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>

namespace {

int fail(const QString& text)
{
    std::fprintf(stderr, "demoproject: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QString project;
    QString configHome;
    QList<quint16> ports;
    int interval = 1000;
    int nodes = 8;
    bool autoRecord = false;
    bool keep = false;
    QString forwardMqtt;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        auto value = [&]() { return i + 1 < args.size() ? args.at(++i) : QString(); };
        if (arg == QLatin1String("--project"))
            project = value();
        else if (arg == QLatin1String("--ports")) {
            for (const QString& p : value().split(QLatin1Char(','), Qt::SkipEmptyParts))
                ports << quint16(p.toUInt());
        } else if (arg == QLatin1String("--interval"))
            interval = value().toInt();
        else if (arg == QLatin1String("--nodes"))
            nodes = value().toInt();
        else if (arg == QLatin1String("--config-home"))
            configHome = value();
        else if (arg == QLatin1String("--auto-record"))
            autoRecord = true;
        else if (arg == QLatin1String("--keep"))
            keep = true;
        else if (arg == QLatin1String("--forward-mqtt"))
            forwardMqtt = value();
        else
            return fail(QStringLiteral("usage: demoproject --project FILE.tpc --ports P1[,P2] "
                                       "[--interval MS] [--nodes N] [--config-home DIR] "
                                       "[--auto-record] [--keep] [--forward-mqtt HOST:PORT]"));
    }
    if (project.isEmpty() || ports.isEmpty() || intervalName(interval).isEmpty() || nodes < 1 ||
        nodes > 8)
        return fail(QStringLiteral("need --project, --ports, an offered interval and 1-8 nodes"));

    const QFileInfo info(project);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("cannot create ") + info.absolutePath());
    if (!(keep && info.exists())) {
        QFile::remove(project);
        ProjectFile file(info.absoluteFilePath());
        file.create(interval);
        QList<GatewayConfig> gateways;
        for (int g = 0; g < ports.size() && g < 8; ++g)
            gateways << DemoGateway::config(g, ports.at(g), nodes, g * nodes + 1);
        file.saveDeviceList(gateways);
    }
    // Set on every run, a kept project too: the switch of this run decides.
    ForwardingSettings forwarding = ForwardingSettings::load(info.absoluteFilePath());
    forwarding.mqtt.enabled = !forwardMqtt.isEmpty();
    if (forwarding.mqtt.enabled) {
        const int colon = forwardMqtt.lastIndexOf(QLatin1Char(':'));
        forwarding.mqtt.host = colon > 0 ? forwardMqtt.left(colon) : forwardMqtt;
        forwarding.mqtt.port = colon > 0 ? forwardMqtt.mid(colon + 1).toInt() : 1883;
        forwarding.mqtt.topicPrefix = QStringLiteral("quillmar-demo");
    }
    forwarding.save(info.absoluteFilePath());

    if (!configHome.isEmpty()) {
        qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
        QSettings settings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus"));
        settings.beginGroup(QStringLiteral("RecentProjects"));
        const QString name = info.baseName();
        settings.setValue(QStringLiteral("list"), QStringList{name});
        settings.setValue(QStringLiteral("projects"), QVariantMap{{name, info.absoluteFilePath()}});
        settings.setValue(QStringLiteral("autoLoad"), true);
        settings.setValue(QStringLiteral("autoRecord"), autoRecord);
    }
    std::printf("%s\n", qPrintable(info.absoluteFilePath()));
    return 0;
}
