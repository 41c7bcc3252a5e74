#pragma once

#include <QString>
#include <QVector>

class ChannelCatalog;

// The channels last chosen for a project, kept in the user's settings under the project's path
// by their catalog keys, so that they are found again when the catalog's order changes.
class ChosenChannels
{
public:
    static void save(const QString& projectPath, const ChannelCatalog& catalog,
                     const QVector<int>& chosen);
    // The saved channels still in the catalog, at most `most` of them; the first `defaults`
    // channels when nothing was saved for the project.
    static QVector<int> saved(const QString& projectPath, const ChannelCatalog& catalog, int most,
                              int defaults);
};
