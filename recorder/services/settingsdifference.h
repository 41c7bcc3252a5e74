#pragma once

#include "settingssnapshot.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What differs between two states of a project's settings: objects (gateways, nodes) added or
// removed, and settings changed, in the order of the objects' names. The audit trail records
// each; a dialog that asks for the acceptance of settings edited outside the recorder lists
// them with lines().
class SettingsDifference
{
public:
    struct Item
    {
        enum class Kind
        {
            Added,
            Removed,
            Changed
        };
        Kind kind = Kind::Changed;
        QString object;
        QString setting;  // empty for an object added or removed
        QString oldValue; // an object removed: its settings, "name: value; ..."
        QString newValue; // an object added: its settings
    };

    SettingsDifference(const SettingsSnapshot& before, const SettingsSnapshot& after);

    const QVector<Item>& items() const { return m_items; }
    bool isEmpty() const { return m_items.isEmpty(); }
    // One readable line per item: "node 1001 added (name: Freezer; ...)", "gateway
    // 10.0.0.5:502 removed (...)", "node 1001, channel 1 range: 0.00 to 5.00 -> 0.00 to 8.00".
    QStringList lines() const;
    // "node 1001, channel 1 range" for a setting, the object's name for an object.
    static QString subject(const Item& item);
    // All settings of an object as one text, "name: value; name: value".
    static QString settingsText(const SettingsSnapshot::Settings& settings);

private:
    QVector<Item> m_items;
};
