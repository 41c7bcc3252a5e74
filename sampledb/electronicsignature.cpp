#include "electronicsignature.h"

#include <QDateTime>

QString ElectronicSignature::manifestation() const
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(timeMs).toLocalTime();
    const QString name = fullName.isEmpty() || fullName == signer
                             ? signer
                             : QStringLiteral("%1 (%2)").arg(fullName, signer);
    return QStringLiteral("%1, %2 %3, %4")
        .arg(name, local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             local.timeZoneAbbreviation(), meaning);
}
