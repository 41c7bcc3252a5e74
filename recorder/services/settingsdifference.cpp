#include "settingsdifference.h"

SettingsDifference::SettingsDifference(const SettingsSnapshot& before,
                                       const SettingsSnapshot& after)
{
    const auto& old = before.objects();
    const auto& now = after.objects();
    QStringList names = old.keys() + now.keys();
    names.removeDuplicates();
    names.sort();
    for (const QString& name : qAsConst(names)) {
        const auto was = old.constFind(name);
        const auto is = now.constFind(name);
        if (was == old.cend()) {
            m_items.append({Item::Kind::Added, name, QString(), QString(), settingsText(*is)});
            continue;
        }
        if (is == now.cend()) {
            m_items.append({Item::Kind::Removed, name, QString(), settingsText(*was), QString()});
            continue;
        }
        QStringList settings = was->keys() + is->keys();
        settings.removeDuplicates();
        settings.sort();
        for (const QString& setting : qAsConst(settings)) {
            // A setting the file did not have reads as empty, as the recorder reads it.
            const QString oldValue = was->value(setting);
            const QString newValue = is->value(setting);
            if (was->contains(setting) != is->contains(setting) || oldValue != newValue)
                m_items.append({Item::Kind::Changed, name, setting, oldValue, newValue});
        }
    }
}

QString SettingsDifference::subject(const Item& item)
{
    return item.setting.isEmpty() ? item.object : item.object + QStringLiteral(", ") + item.setting;
}

QString SettingsDifference::settingsText(const SettingsSnapshot::Settings& settings)
{
    QStringList parts;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        parts << it.key() + QStringLiteral(": ") + it.value();
    return parts.join(QStringLiteral("; "));
}

QStringList SettingsDifference::lines() const
{
    QStringList out;
    for (const Item& item : m_items) {
        switch (item.kind) {
        case Item::Kind::Added:
            out << item.object + QStringLiteral(" added (") + item.newValue + QLatin1Char(')');
            break;
        case Item::Kind::Removed:
            out << item.object + QStringLiteral(" removed (") + item.oldValue + QLatin1Char(')');
            break;
        case Item::Kind::Changed:
            out << subject(item) + QStringLiteral(": ") + item.oldValue + QStringLiteral(" -> ") +
                       item.newValue;
            break;
        }
    }
    return out;
}
