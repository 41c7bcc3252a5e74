#include "gatewaymodel.h"

const QList<GatewayModel::Row>& GatewayModel::rows()
{
    static const QList<Row> table = {
        {QStringLiteral("TQ100"), true},
        {QStringLiteral("TQ700"), false},
    };
    return table;
}

QStringList GatewayModel::names()
{
    QStringList list;
    for (const Row& row : rows())
        list << row.name;
    return list;
}

bool GatewayModel::reportsLinkInfo(const QString& model)
{
    for (const Row& row : rows()) {
        if (row.name == model)
            return row.reportsLinkInfo;
    }
    return false;
}
