#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The gateway models the recorder knows and what each reports, in one table: decoding, the chart
// panel, the alarm rules and the editor's model list all ask here, so that adding a model is
// adding its row.
class GatewayModel
{
public:
    struct Row
    {
        QString name;
        // Link quality and battery level in the four registers after a node's two channels.
        bool reportsLinkInfo = false;
    };

    // Every known model, in the order the editor offers them.
    static const QList<Row>& rows();
    static QStringList names();
    // True for a known model (its exact, case-sensitive name) that reports link quality and
    // battery; false for any other text.
    static bool reportsLinkInfo(const QString& model);
};
