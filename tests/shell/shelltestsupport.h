#pragma once

#include "../recording/recordingtestsupport.h"
#include "projectfile.h"
#include "quillmarmain.h"

#include <QAction>
#include <QSettings>
#include <QStringList>

#include <functional>

// A window's modal message boxes, recorded as "TITLE|text" instead of shown and answered with
// the queued buttons; without a queued answer a question is answered by discarding (or "Yes"),
// so that no test can loop on a question it did not expect.
struct MessageBoxes
{
    QStringList shown;
    QList<QMessageBox::StandardButton> answers;
    // Called after a box is recorded and before it is answered.
    std::function<void()> onQuestion;

    QuillmarMain::MessageBoxFunction function()
    {
        return [this](QMessageBox::Icon, const QString& title, const QString& text,
                      QMessageBox::StandardButtons buttons) {
            shown << title + QLatin1Char('|') + text;
            if (onQuestion)
                onQuestion();
            if (!answers.isEmpty())
                return answers.takeFirst();
            for (QMessageBox::StandardButton button : {QMessageBox::Discard, QMessageBox::Yes}) {
                if (buttons & button)
                    return button;
            }
            return QMessageBox::Ok;
        };
    }
};

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
