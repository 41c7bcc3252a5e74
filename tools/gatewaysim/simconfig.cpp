#include "simconfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <limits>

namespace {

constexpr int maxStartRegister = 65535 - 8;

bool jsonInt(const QJsonValue& value, qint64 low, qint64 high, qint64* out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (d != std::floor(d) || d < double(low) || d > double(high))
        return false;
    *out = qint64(d);
    return true;
}

bool jsonPattern(const QJsonValue& value, ValuePattern* pattern, QString* error)
{
    if (value.isDouble()) {
        *pattern = ValuePattern::constant(value.toDouble());
        return true;
    }
    if (value.isString())
        return ValuePattern::parse(value.toString(), pattern, error);
    *error = QStringLiteral("a channel value must be a number or a pattern text");
    return false;
}

bool jsonNode(const QJsonObject& object, SimNode* node, QString* error)
{
    qint64 n = 0;
    if (!jsonInt(object.value(QLatin1String("start")), 0, maxStartRegister, &n)) {
        *error =
            QStringLiteral("node \"start\" must be an integer from 0 to %1").arg(maxStartRegister);
        return false;
    }
    node->startRegister = int(n);
    const char* channelKeys[2] = {"ch1", "ch2"};
    for (int ch = 0; ch < 2; ++ch) {
        const QJsonValue value = object.value(QLatin1String(channelKeys[ch]));
        if (!value.isUndefined() && !jsonPattern(value, &node->channel[ch], error))
            return false;
    }
    const char* intKeys[2] = {"lqi", "battery"};
    qint32* targets[2] = {&node->lqi, &node->battery};
    for (int i = 0; i < 2; ++i) {
        const QJsonValue value = object.value(QLatin1String(intKeys[i]));
        if (value.isUndefined())
            continue;
        if (!jsonInt(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                     &n)) {
            *error = QStringLiteral("node \"%1\" must be a 32-bit integer")
                         .arg(QLatin1String(intKeys[i]));
            return false;
        }
        *targets[i] = qint32(n);
    }
    return true;
}

bool parseInt(const QString& text, qint64 low, qint64 high, qint64* out)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

} // namespace

namespace SimConfig {

bool loadFile(const QString& path, QVector<SimGateway>* gateways, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("%1: not a JSON object (%2)").arg(path, parseError.errorString());
        return false;
    }
    const QJsonValue list = doc.object().value(QLatin1String("gateways"));
    if (!list.isArray()) {
        *error = QStringLiteral("%1: \"gateways\" must be an array").arg(path);
        return false;
    }
    for (const QJsonValue& entry : list.toArray()) {
        const QJsonObject object = entry.toObject();
        const QJsonValue model = object.value(QLatin1String("model"));
        if (!entry.isObject() || !(model.isUndefined() || model.isString())) {
            *error =
                QStringLiteral("%1: a gateway must be an object with a \"model\" text").arg(path);
            return false;
        }
        SimGateway gateway;
        gateway.model = model.toString(gateway.model);
        qint64 n = 0;
        const QJsonValue port = object.value(QLatin1String("port"));
        if (!port.isUndefined()) {
            if (!jsonInt(port, 0, 65535, &n)) {
                *error =
                    QStringLiteral("%1: \"port\" must be an integer from 0 to 65535").arg(path);
                return false;
            }
            gateway.port = quint16(n);
        }
        for (const QJsonValue& nodeEntry : object.value(QLatin1String("nodes")).toArray()) {
            SimNode node;
            if (!jsonNode(nodeEntry.toObject(), &node, error)) {
                *error = path + QStringLiteral(": ") + *error;
                return false;
            }
            gateway.nodes.append(node);
        }
        gateways->append(gateway);
    }
    return true;
}

bool parseGateway(const QString& text, SimGateway* gateway, QString* error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2 || parts.first().isEmpty()) {
        *error = QStringLiteral("gateway must be MODEL[:PORT]: '%1'").arg(text);
        return false;
    }
    gateway->model = parts.first();
    gateway->port = 0;
    if (parts.size() == 2) {
        qint64 port = 0;
        if (!parseInt(parts.at(1), 0, 65535, &port)) {
            *error = QStringLiteral("bad port in '%1'").arg(text);
            return false;
        }
        gateway->port = quint16(port);
    }
    return true;
}

bool parseNode(const QString& text, SimNode* node, QString* error)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() > 5) {
        *error = QStringLiteral("node must be START[/CH1[/CH2[/LQI[/BATTERY]]]]: '%1'").arg(text);
        return false;
    }
    qint64 n = 0;
    if (!parseInt(parts.at(0), 0, maxStartRegister, &n)) {
        *error = QStringLiteral("bad start register in '%1'").arg(text);
        return false;
    }
    node->startRegister = int(n);
    for (int ch = 0; ch < 2 && ch + 1 < parts.size(); ++ch) {
        if (!ValuePattern::parse(parts.at(ch + 1), &node->channel[ch], error))
            return false;
    }
    qint32* targets[2] = {&node->lqi, &node->battery};
    for (int i = 0; i < 2 && i + 3 < parts.size(); ++i) {
        if (!parseInt(parts.at(i + 3), std::numeric_limits<qint32>::min(),
                      std::numeric_limits<qint32>::max(), &n)) {
            *error = QStringLiteral("bad link quality or battery in '%1'").arg(text);
            return false;
        }
        *targets[i] = qint32(n);
    }
    return true;
}

bool validate(const QVector<SimGateway>& gateways, QString* error)
{
    if (gateways.isEmpty()) {
        *error = QStringLiteral("no gateway configured");
        return false;
    }
    for (int g = 0; g < gateways.size(); ++g) {
        const SimGateway& gateway = gateways.at(g);
        if (gateway.model != QLatin1String("TQ100") && gateway.model != QLatin1String("TQ700")) {
            *error = QStringLiteral("gateway %1: model must be TQ100 or TQ700, not '%2'")
                         .arg(g)
                         .arg(gateway.model);
            return false;
        }
        QSet<int> starts;
        for (const SimNode& node : gateway.nodes) {
            if (starts.contains(node.startRegister)) {
                *error = QStringLiteral("gateway %1: two nodes at start register %2")
                             .arg(g)
                             .arg(node.startRegister);
                return false;
            }
            starts.insert(node.startRegister);
        }
    }
    return true;
}

} // namespace SimConfig
