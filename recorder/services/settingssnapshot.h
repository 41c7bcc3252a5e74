#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The settings of a project file as the audit trail compares them: every object (the project,
// its notifications and forwarding, each gateway, each node by its serial number) with its
// settings as readable texts. What the file keeps about its recordings and reports (the
// recorded period, the last report's texts, the editor's backup) is not a setting. No secret is
// in it: the file holds none, and a key named like one (a password, token or secret written
// in by hand) is kept without its value.
class SettingsSnapshot
{
public:
    using Settings = QMap<QString, QString>;

    // Empty: the file could not be read.
    static SettingsSnapshot read(const QString& projectPath);

    // One compact JSON document, the same for the same settings, and back (false when the text
    // is not such a document).
    QByteArray toText() const;
    static bool fromText(const QByteArray& text, SettingsSnapshot* snapshot);

    const QMap<QString, Settings>& objects() const { return m_objects; }
    bool isEmpty() const { return m_objects.isEmpty(); }
    bool operator==(const SettingsSnapshot& other) const { return m_objects == other.m_objects; }
    bool operator!=(const SettingsSnapshot& other) const { return !(*this == other); }

    // A key named like a password, token or secret: its value is never recorded.
    static bool looksSecret(const QString& key);
    // What stands for the value of a key named like a secret.
    static QString secretPlaceholder() { return QStringLiteral("(secret, not recorded)"); }

private:
    void set(const QString& object, const QString& setting, const QString& value);

    QMap<QString, Settings> m_objects;
};
