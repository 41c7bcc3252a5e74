#include "chosenchannels.h"

#include "channelcatalog.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace {

QString settingsKey(const QString& projectPath)
{
    return QStringLiteral("chosen/") +
           QString::fromLatin1(
               QCryptographicHash::hash(QFileInfo(projectPath).absoluteFilePath().toUtf8(),
                                        QCryptographicHash::Sha1)
                   .toHex());
}

} // namespace

void ChosenChannels::save(const QString& projectPath, const ChannelCatalog& catalog,
                          const QVector<int>& chosen)
{
    QStringList keys;
    for (int index : chosen)
        keys << catalog.channels()[index].key;
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmar"),
                       QStringLiteral("Trendscope"));
    settings.setValue(settingsKey(projectPath), keys);
}

QVector<int> ChosenChannels::saved(const QString& projectPath, const ChannelCatalog& catalog,
                                   int most, int defaults)
{
    QVector<int> chosen;
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmar"),
                             QStringLiteral("Trendscope"));
    const QVariant saved = settings.value(settingsKey(projectPath));
    if (saved.isValid()) {
        for (const QString& key : saved.toStringList()) {
            const int index = catalog.find(key);
            if (index >= 0 && chosen.size() < most)
                chosen << index;
        }
        return chosen;
    }
    for (int i = 0; i < qMin(defaults, catalog.channels().size()); ++i)
        chosen << i;
    return chosen;
}
