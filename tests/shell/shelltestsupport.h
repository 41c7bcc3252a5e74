#pragma once

#include "projectfile.h"
#include "quillmarmain.h"

#include <QAction>
#include <QSettings>
#include <QStringList>

// Critical message boxes recorded instead of shown, as "TITLE|text".
inline QStringList& criticalMessages()
{
    static QStringList messages;
    return messages;
}

inline void recordCriticalMessages()
{
    QuillmarMain::setCriticalMessage([](QWidget*, const QString& title, const QString& text) {
        criticalMessages() << title + QLatin1Char('|') + text;
    });
}

inline QSettings recorderSettings()
{
    return QSettings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus"));
}

// A project file with one gateway per port, each with nodes at the given start registers.
inline QString writeProject(const QString& path, const QList<quint16>& ports,
                            const QVector<int>& starts = {0}, int interval = 1000)
{
    ProjectFile file(path);
    file.create(interval);
    QList<GatewayConfig> gateways;
    int number = 0;
    for (quint16 port : ports) {
        GatewayConfig gateway;
        gateway.ipAddress = QStringLiteral("127.0.0.1");
        gateway.port = port;
        for (int start : starts) {
            NodeConfig node;
            node.deviceNumber = QStringLiteral("NODE%1").arg(++number);
            node.deviceName = QStringLiteral("Node %1").arg(number);
            node.startAddress = start;
            gateway.nodes << node;
        }
        gateways << gateway;
    }
    file.saveDeviceList(gateways);
    return path;
}

inline QAction* action(QuillmarMain* window, const char* name)
{
    return window->findChild<QAction*>(QLatin1String(name));
}
